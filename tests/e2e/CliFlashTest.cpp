// The command-line flasher against the device simulator over a pseudo-terminal: whole runs
// of the real program, from the entry command to the exit status.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "app/FirmwareImages.h"
#include "tests/e2e/ChildProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kRunLimit = 120s;  // a generous bound for one run on a loaded machine

class CliFlash : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cli-e2e-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override {
    cli_.reset();
    sim_.reset();
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Starts the simulator with these options; returns its pseudo-terminal.
  std::string StartDevice(std::vector<std::string> options) {
    options.insert(options.end(), {"--no-register", "--flash-out", Path("flash.bin"), "--report",
                                   Path("report.json")});
    // Fresh output files per start: an earlier simulator's lines must not be read as this one's.
    const std::string n = std::to_string(++starts_);
    sim_err_ = Path("sim" + n + ".err");
    sim_ = std::make_unique<ChildProcess>(SIM_PROGRAM, options, Path("sim" + n + ".out"), sim_err_);
    const auto lines = sim_->Lines(1, 10s);
    return lines.empty() ? std::string() : lines[0];
  }

  // Runs the flasher to its end and returns its exit status.
  int Flash(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    cli_ = std::make_unique<ChildProcess>(CLI_PROGRAM, args, Path("cli.out"), Path("cli.err"), env);
    return cli_->Wait(kRunLimit);
  }

  // Stops the simulator (its flash and report are written at its exit).
  std::string DeviceFlash() {
    sim_->Signal(SIGTERM);
    EXPECT_EQ(sim_->Wait(10s), 0) << ReadWholeFile(sim_err_);
    return ReadWholeFile(Path("flash.bin"));
  }

  std::string Out() const { return ReadWholeFile(Path("cli.out")); }
  std::string Err() const { return ReadWholeFile(Path("cli.err")); }

  // A small image file: version `major.minor`, a handful of blocks with DLE and 0xFF bytes,
  // at the ends of the flash and around the 64 KiB boundary.
  std::string SmallImage(int major, int minor) {
    std::string image(kImageSize, '\xFF');
    for (std::size_t block : {0u, 1u, 7u, 1023u, 1024u, 2047u})
      for (std::size_t i = 0; i < 64; i += 3) image[block * 64 + i] = static_cast<char>(0x10 + i);
    image[0] = static_cast<char>(major);
    image[1] = static_cast<char>(minor);
    const std::string file = Path("small.bin");
    std::ofstream(file, std::ios::binary) << image;
    small_ = image;
    return file;
  }

  std::string dir_;
  std::string small_;
  int starts_ = 0;
  std::string sim_err_;
  std::unique_ptr<ChildProcess> sim_;
  std::unique_ptr<ChildProcess> cli_;
};

}  // namespace

TEST_F(CliFlash, BuiltInImageFlashesTheWholeDevice) {
  const std::string port = StartDevice({"--version", "3.29"});
  ASSERT_FALSE(port.empty());
  const std::string log = Path("traffic.log");
  ASSERT_EQ(Flash({"--port", port, "--log", log}), 0) << Out() << Err();
  EXPECT_NE(Out().find("Flasher erfolgreich geflasht !!!"), std::string::npos) << Out();
  EXPECT_EQ(DeviceFlash(), ReadWholeFile(IMAGE_HR0)) << "the simulated flash equals the image";
  const std::string report = ReadWholeFile(Path("report.json"));
  TMZData image{};
  const std::string hr0 = ReadWholeFile(IMAGE_HR0);
  std::copy(hr0.begin(), hr0.end(), image.begin());
  EXPECT_NE(report.find("\"blocks_received\": " + std::to_string(BuildBlockList(image).size()) + ","),
            std::string::npos)
      << "erased blocks are never sent";
  EXPECT_NE(report.find("\"duplicates\": 0,"), std::string::npos);
  EXPECT_NE(report.find("\"invalid_blocks\": []"), std::string::npos);
  EXPECT_NE(ReadWholeFile(log).find("Gesendet -"), std::string::npos) << "the traffic log";
}

TEST_F(CliFlash, RevisionOneGetsItsOwnImage) {
  const std::string port = StartDevice({"--revision", "1", "--version", "13.29"});
  ASSERT_EQ(Flash({"--port", port}), 0) << Out() << Err();
  EXPECT_EQ(DeviceFlash(), ReadWholeFile(IMAGE_HR1));
}

TEST_F(CliFlash, VersionQuestionAnsweredBothWays) {
  const std::string file = SmallImage(1, 0);
  std::string port = StartDevice({"--version", "1.00"});
  ASSERT_EQ(Flash({"--port", port, "--file", file, "--yes"}), 0) << Out() << Err();
  EXPECT_NE(Out().find("Die Version  1. 0  ihres Mirbazentos ist aktuell."), std::string::npos)
      << Out();
  EXPECT_EQ(DeviceFlash(), small_);

  port = StartDevice({"--version", "1.00"});
  EXPECT_EQ(Flash({"--port", port, "--file", file, "--no"}), 2) << Out() << Err();
  EXPECT_EQ(DeviceFlash(), std::string(kImageSize, '\xFF')) << "nothing written";

  port = StartDevice({"--version", "1.00"});
  EXPECT_EQ(Flash({"--port", port, "--file", file}), 2) << "no terminal to ask: declined";
}

TEST_F(CliFlash, RevisionWithoutAnImageLeavesWithoutWriting) {
  const std::string port = StartDevice({"--revision", "2", "--version", "4.00"});
  EXPECT_EQ(Flash({"--port", port}), 2) << Out() << Err();
  EXPECT_EQ(DeviceFlash(), std::string(kImageSize, '\xFF'));
}

TEST_F(CliFlash, FinalAnswersGiveTheirTextsAndStatuses) {
  const std::string file = SmallImage(1, 0);
  const std::tuple<const char*, int, const char*> answers[] = {
      {"0xF0", 1, "Fehler aufgetreten, nicht geflasht !!!"},
      {"0x00", 2, "Flashmodus ohne Schreiben verlassen"},
      {"0x07", 5, nullptr},
      {"none", 0, "MirbaZento erfolgreich geflasht !!!"},  // the ready report's path
  };
  for (const auto& [answer, status, text] : answers) {
    const std::string port = StartDevice({"--version", "0.50", "--final-answer", answer});
    EXPECT_EQ(Flash({"--port", port, "--file", file}), status) << answer << Out() << Err();
    if (text) {
      EXPECT_NE(Out().find(text), std::string::npos) << answer << Out();
    }
    DeviceFlash();
  }
}

TEST_F(CliFlash, MuteDeviceEndsWithTheLinkError) {
  const std::string port = StartDevice({"--mute"});
  EXPECT_EQ(Flash({"--port", port}), 4) << Out() << Err();
  EXPECT_NE(Out().find("Ort:3031, Code:0003, Art:00"), std::string::npos) << Out();
  EXPECT_NE(Err().find("Hinweis: Das Gerät antwortet nicht."), std::string::npos) << Err();
}

TEST_F(CliFlash, SlowDeviceEndsAtTheTimeOut) {
  const std::string port = StartDevice({"--answer-delay", "4000"});
  EXPECT_EQ(Flash({"--port", port}, {{"VERIDOVUDIDA_TEST_TIME_LIMIT_MS", "1500"}}), 3)
      << Out() << Err();
  EXPECT_NE(Err().find("TimeOut Error!"), std::string::npos) << Err();
}

TEST_F(CliFlash, PortThatDoesNotExist) {
  EXPECT_EQ(Flash({"--port", Path("no-such-port")}), 4);
  EXPECT_NE(Out().find("Ort:1138, Code:0002, Art:00"), std::string::npos) << Out();
  // The advice goes with the error texts, one line, below the report's own text.
  const std::string err = Err();
  EXPECT_EQ(err.rfind("Hinweis: Den Port " + Path("no-such-port") + " gibt es nicht. ", 0), 0u)
      << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST_F(CliFlash, HangUpInTheMiddle) {
  const std::string port = StartDevice({"--hangup-after", "3"});
  EXPECT_EQ(Flash({"--port", port}), 4) << Out() << Err();
  EXPECT_NE(Out().find("Es ist ein Fehler aufgetreten, das Flashen wird beendet !"),
            std::string::npos)
      << Out();
}

TEST_F(CliFlash, NaksAndCorruptedBytesAreSurvived) {
  const std::string file = SmallImage(1, 0);
  const std::string port = StartDevice(
      {"--version", "0.10", "--nak-first", "3", "--corrupt-rate", "0.02", "--seed", "7"});
  ASSERT_EQ(Flash({"--port", port, "--file", file}), 0) << Out() << Err();
  EXPECT_EQ(DeviceFlash(), small_);
  const std::string report = ReadWholeFile(Path("report.json"));
  EXPECT_EQ(report.find("\"naks_sent\": 0,"), std::string::npos) << "the faults happened";
  EXPECT_NE(report.find("\"line_faults\": [\n    {"), std::string::npos) << "bytes were corrupted";
}

TEST_F(CliFlash, UsageAndUnusableFiles) {
  EXPECT_EQ(Flash({}), 64);
  EXPECT_EQ(Flash({"--port"}), 64);
  EXPECT_EQ(Flash({"--port", "x", "--bogus"}), 64);
  EXPECT_EQ(Flash({"--port", "x", "--yes", "--no"}), 64);
  EXPECT_EQ(Flash({"--help"}), 0);
  EXPECT_NE(Out().find("--port PATH"), std::string::npos);
  // --version: each built-in image's version beside its own hardware revision.
  EXPECT_EQ(Flash({"--version"}), 0);
  const std::pair<const char*, const char*> images[] = {{"revision 0 (M16CNA): ", IMAGE_HR0},
                                                        {"revision 1 (M16CN4): ", IMAGE_HR1}};
  for (const auto& [line, file] : images) {
    const std::string bytes = ReadWholeFile(file);
    TMZData image{};
    std::copy(bytes.begin(), bytes.end(), image.begin());
    EXPECT_NE(Out().find(std::string(line).append(VersionText(image)) + "\n"), std::string::npos)
        << Out();
  }
  EXPECT_EQ(Flash({"--port", "x", "--file", Path("missing.bin")}), 66);
  EXPECT_NE(Err().find("missing.bin"), std::string::npos) << Err();
  std::ofstream(Path("short.bin")) << "short";
  EXPECT_EQ(Flash({"--port", "x", "--file", Path("short.bin")}), 66);
}
