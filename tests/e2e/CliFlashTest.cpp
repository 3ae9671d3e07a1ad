// The command-line flasher against the device simulator over a pseudo-terminal: whole runs
// of the real program, from the entry command to the exit status.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

#include "app/FirmwareImages.h"
#include "tests/e2e/ChildProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kRunLimit = 120s;  // a generous bound for one run on a loaded machine

// Every text that tells how a run ended.
const char* const kVerdicts[] = {
    "Flasher erfolgreich geflasht !!!",
    "MirbaZento erfolgreich geflasht !!!",
    "Fehler aufgetreten, nicht geflasht !!!",
    "Flashmodus ohne Schreiben verlassen",
    "MirbaZento Flashen abgebrochen, bitte Mirbazento neu starten !!!",
    "Es ist ein Fehler aufgetreten, das Flashen wird beendet !",
    "TimeOut Error!",
};

int CountVerdicts(const std::string& output) {
  int n = 0;
  for (const char* verdict : kVerdicts)
    for (auto at = output.find(verdict); at != std::string::npos; at = output.find(verdict, at + 1))
      ++n;
  return n;
}

class CliFlash : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cli-e2e-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override {
    cli_.reset();
    sim_.reset();
    devices_.clear();
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

  // Several simulators, each with its own files: returns their pseudo-terminals.
  std::vector<std::string> StartDevices(const std::vector<std::vector<std::string>>& options) {
    std::vector<std::string> ports;
    for (std::size_t k = 0; k < options.size(); ++k) {
      std::vector<std::string> args = options[k];
      // Each start has files of its own: a later round must not read an earlier device's
      // port from an output file of the same name.
      const std::string n = "dev" + std::to_string(device_files_.size());
      device_files_.push_back(n);
      args.insert(args.end(), {"--no-register", "--flash-out", Path(n + ".bin")});
      devices_.push_back(
          std::make_unique<ChildProcess>(SIM_PROGRAM, args, Path(n + ".out"), Path(n + ".err")));
      const auto lines = devices_.back()->Lines(1, 10s);
      ports.push_back(lines.empty() ? std::string() : lines[0]);
    }
    return ports;
  }
  // Stops the simulators; the flash of each.
  std::vector<std::string> DeviceFlashes() {
    std::vector<std::string> flashes;
    const std::size_t first = device_files_.size() - devices_.size();
    for (std::size_t k = 0; k < devices_.size(); ++k) {
      devices_[k]->Signal(SIGTERM);
      EXPECT_EQ(devices_[k]->Wait(10s), 0);
      flashes.push_back(ReadWholeFile(Path(device_files_[first + k] + ".bin")));
    }
    devices_.clear();
    return flashes;
  }
  // The summary's line for `port`.
  std::string SummaryLine(const std::string& port) const {
    std::istringstream lines(Out());
    for (std::string line; std::getline(lines, line);)
      if (line.rfind(port + " ", 0) == 0) return line;
    return "";
  }

  std::vector<std::unique_ptr<ChildProcess>> devices_;
  std::vector<std::string> device_files_;  // of every device started, in order
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

// A device that restarts as it leaves flash mode drops the line right after its final answer
// was acknowledged, while the flasher closes the port: one verdict, the device's.
TEST_F(CliFlash, DeviceThatRestartsAfterItsAnswerGetsOneVerdictEachTime) {
  const std::string file = SmallImage(1, 0);
  int hung_up = 0;
  for (int run = 1; run <= 10; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string port = StartDevice({"--version", "0.50", "--hangup-after-answer"});
    ASSERT_FALSE(port.empty());
    EXPECT_EQ(Flash({"--port", port, "--file", file}), 0) << Out() << Err();
    EXPECT_EQ(CountVerdicts(Out() + Err()), 1) << Out() << Err();
    EXPECT_NE(Out().find("Flasher erfolgreich geflasht !!!"), std::string::npos) << Out();
    EXPECT_EQ(DeviceFlash(), small_);
    if (ReadWholeFile(Path("report.json")).find("\"end\": \"hangup\"") != std::string::npos)
      ++hung_up;
  }
  std::printf("the device dropped the line in %d of 10 runs\n", hung_up);
  EXPECT_GT(hung_up, 0) << "the flasher's acknowledgement of the answer never arrived";
}

TEST_F(CliFlash, TestTimeLimitTakesOnlyAPositiveWholeNumber) {
  for (const char* bad :
       {"abc", "0", "-5", "", "12x", " 5", "1.5", "300001", "99999999999999999999"}) {
    EXPECT_EQ(Flash({"--port", Path("no-such-port")}, {{"VERIDOVUDIDA_TEST_TIME_LIMIT_MS", bad}}),
              64)
        << "'" << bad << "'" << Out() << Err();
    EXPECT_NE(Err().find("VERIDOVUDIDA_TEST_TIME_LIMIT_MS='" + std::string(bad) +
                         "' is not a whole number of milliseconds from 1 to 300000"),
              std::string::npos)
        << Err();
    EXPECT_EQ(Out(), "") << "no run was started";
  }
}

// --- Several devices at once ---------------------------------------------------------

TEST_F(CliFlash, ThreeDevicesAtOnceAreAllFlashed) {
  const std::string file = SmallImage(1, 0);
  const auto ports = StartDevices({{"--version", "0.50"},
                                   {"--version", "0.90", "--revision", "1"},
                                   {"--version", "0.10", "--nak-first", "2"}});
  const std::string logs = Path("logs");
  ASSERT_EQ(Flash({"--port", ports[0], "--port", ports[1], "--port", ports[2], "--file", file,
                   "--log", logs}),
            0)
      << Out() << Err();
  for (const auto& flash : DeviceFlashes()) EXPECT_EQ(flash, small_);
  const char* before[] = {"0.50", "0.90", "0.10"};
  for (std::size_t k = 0; k < ports.size(); ++k) {
    SCOPED_TRACE(ports[k]);
    EXPECT_NE(Out().find("[" + ports[k] + "] Flasher erfolgreich geflasht !!!"), std::string::npos)
        << Out();
    const std::string summary = SummaryLine(ports[k]);
    EXPECT_NE(summary.find(std::string(" ") + before[k] + " "), std::string::npos) << summary;
    EXPECT_NE(summary.find(" 1.00 "), std::string::npos) << "the version written: " << summary;
    EXPECT_NE(summary.find("geflasht (0)"), std::string::npos) << summary;
    std::string name = ports[k];
    std::replace(name.begin(), name.end(), '/', '_');
    EXPECT_NE(ReadWholeFile(logs + "/" + name.substr(1) + ".log").find("Gesendet -"),
              std::string::npos)
        << "one traffic log per port";
  }
  EXPECT_EQ(CountVerdicts(Out() + Err()), 3);
}

// A mute device and a declined one fail; the third is flashed all the same, and the summary
// and the exit status say which failed.
TEST_F(CliFlash, FailedDevicesDoNotStopTheOthers) {
  const std::string file = SmallImage(1, 0);
  const auto ports = StartDevices({{"--mute"}, {"--version", "0.50"}, {"--version", "1.00"}});
  EXPECT_EQ(
      Flash({"--port", ports[0], "--port", ports[1], "--port", ports[2], "--file", file, "--no"}),
      4)
      << "the highest status: the mute device's link error" << Out() << Err();
  const auto flashes = DeviceFlashes();
  EXPECT_EQ(flashes[1], small_);
  EXPECT_EQ(flashes[2], std::string(kImageSize, '\xFF')) << "declined: nothing written";
  EXPECT_NE(SummaryLine(ports[0]).find("Fehler der Leitung (4)"), std::string::npos) << Out();
  EXPECT_NE(SummaryLine(ports[1]).find("geflasht (0)"), std::string::npos) << Out();
  EXPECT_NE(SummaryLine(ports[2]).find("nicht geschrieben (2)"), std::string::npos) << Out();
  EXPECT_NE(Out().find("[" + ports[2] + "] Die Version  1. 0  ihres Mirbazentos ist aktuell."),
            std::string::npos)
      << "the question names its port" << Out();
  EXPECT_EQ(CountVerdicts(Out() + Err()), 3);
}

// The flasher in a terminal (a tmux pane, read back as its screen): one board line per port,
// redrawn in place, the results above it and the summary below.
TEST_F(CliFlash, TerminalShowsOneLinePerPortRedrawnInPlace) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  std::string image(kImageSize, '\xFF');
  for (std::size_t block = 0; block < 200; ++block) image[block * 64 + 7] = 0x42;
  image[0] = 0x01;
  image[1] = 0x00;
  std::ofstream(Path("board.bin"), std::ios::binary) << image;
  const std::string socket = "flasher-e2e-" + std::to_string(getpid());
  auto tmux = [&](const std::string& args) {
    return "tmux -L " + socket + " " + args + " 2>/dev/null";
  };
  auto screen = [&] {
    std::string text;
    if (FILE* pipe = popen(tmux("capture-pane -p").c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
      pclose(pipe);
    }
    return text;
  };
  // Board lines of `port`: they begin with it and carry the bar.
  auto board_lines = [](const std::string& text, const std::string& port,
                        std::string* last = nullptr) {
    int n = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(port + " ", 0) != 0 || line.find(" [") == std::string::npos) continue;
      ++n;
      if (last) *last = line;
    }
    return n;
  };

  for (const std::size_t count : {std::size_t{3}, std::size_t{1}}) {
    SCOPED_TRACE(std::to_string(count) + " port(s)");
    std::vector<std::vector<std::string>> options(count, {"--version", "0.50", "--baud", "57600"});
    const auto ports = StartDevices(options);
    std::string command = std::string(CLI_PROGRAM) + " --yes --file " + Path("board.bin");
    for (const auto& port : ports) command += " --port " + port;
    command += "; echo EXIT=$?; sleep 60";
    ASSERT_EQ(std::system(tmux("new-session -d -x 150 -y 40 '" + command + "'").c_str()), 0);
    bool seen_sending = false;
    std::string text;
    for (const auto end = std::chrono::steady_clock::now() + kRunLimit;
         std::chrono::steady_clock::now() < end;) {
      text = screen();
      for (const auto& port : ports) EXPECT_LE(board_lines(text, port), 1) << text;
      seen_sending = seen_sending || text.find(" Senden ") != std::string::npos;
      if (text.find("EXIT=") != std::string::npos) break;
      std::this_thread::sleep_for(100ms);
    }
    std::system(tmux("kill-server").c_str());
    EXPECT_NE(text.find("EXIT=0"), std::string::npos) << text;
    EXPECT_TRUE(seen_sending) << "the board showed the sending";
    for (const auto& port : ports) {
      std::string line;
      EXPECT_EQ(board_lines(text, port, &line), 1) << text;
      EXPECT_NE(line.find(" geflasht "), std::string::npos) << line;
      EXPECT_NE(line.find("[########################]  200/200 "), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("Fortschritt:"), std::string::npos) << "the board replaces them";
    EXPECT_EQ(text.find("Port  "), count > 1 ? text.find("Port  ") : std::string::npos)
        << "a summary only for several ports";
    if (count > 1) {
      EXPECT_NE(text.find("Ergebnis"), std::string::npos) << text;
    }
    for (const auto& flash : DeviceFlashes()) EXPECT_EQ(flash, image);
  }
}

TEST_F(CliFlash, SamePortTwiceIsBadUsage) {
  EXPECT_EQ(Flash({"--port", "/dev/ttyS0", "--port", "/dev/ttyS0"}), 64);
  EXPECT_NE(Err().find("given twice"), std::string::npos) << Err();
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
