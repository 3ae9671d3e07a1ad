// The flasher and the serial component on a real serial driver: Linux's 8250 driver in a
// QEMU guest, on the 16550A that QEMU models, with the device simulated on the host's end
// of that line. Each guest run boots, runs one command within a bound and powers off.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <regex>

#include "tests/e2e/ChildProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct GuestRun {
  int status = -1;       // the guest command's exit status (124 time-out, 125 no status)
  std::string output;    // what the command printed
  std::string report;    // the simulator's JSON report
  std::string flash;     // the simulator's flash at its end
  std::string simError;  // the simulator's messages

  // The value after "probe: KEY " on the probe's line, or empty.
  std::string Probe(const std::string& key) const {
    const std::regex line("probe: " + key + " ([^\r\n]*)");
    std::smatch m;
    return std::regex_search(output, m, line) ? m[1].str() : "";
  }
  // A number "NAME=N" from the probe's line KEY.
  long Field(const std::string& key, const std::string& name) const {
    const std::regex field("(^| )" + name + "=(-?[0-9]+)");
    const std::string text = Probe(key);
    std::smatch m;
    return std::regex_search(text, m, field) ? std::stol(m[2].str()) : -1;
  }
  // A whole number after "NAME": in the report.
  long ReportNumber(const std::string& name) const {
    const std::regex field("\"" + name + "\": ([0-9]+)");
    std::smatch m;
    return std::regex_search(report, m, field) ? std::stol(m[1].str()) : -1;
  }
};

class VmBench : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string guest = VM_GUEST_DIR;
    if (fs::exists(guest + "/unavailable")) {
      GTEST_SKIP() << "VM bench unavailable: " << ReadWholeFile(guest + "/unavailable");
    }
    if (!fs::exists(guest + "/initrd.img")) {
      GTEST_SKIP() << "VM bench unavailable: no guest in " << guest
                   << " (the ctest fixture vm_prepare builds it)";
    }
    std::string pattern = (fs::temp_directory_path() / "vm-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Boots the guest with `command` while the simulator, with `options`, plays the device on
  // the host's end of ttyS0.
  GuestRun Boot(const std::string& command, std::vector<std::string> options = {},
                int limitSeconds = 90) {
    GuestRun run;
    // Fresh files per run: an earlier run's lines must not be read as this one's.
    const std::string n = std::to_string(++boots_);
    const std::string console = Path("console" + n + ".txt");
    ChildProcess vm(VM_SCRIPT,
                    {"boot", VM_GUEST_DIR, "--limit", std::to_string(limitSeconds), "--console",
                     console, "--", command},
                    Path("vm" + n + ".out"), Path("vm" + n + ".err"));
    const auto lines = vm.Lines(1, 30s);
    if (lines.empty() || lines[0].rfind("line ", 0) != 0) {
      ADD_FAILURE() << "the guest did not start: " << ReadWholeFile(Path("vm" + n + ".err"));
      return run;
    }
    const std::string report = Path("report" + n + ".json"), flash = Path("flash" + n + ".bin");
    options.insert(options.end(),
                   {"--attach", lines[0].substr(5), "--no-register", "--report", report,
                    "--flash-out", flash, "--time-limit", std::to_string(limitSeconds + 120)});
    ChildProcess sim(SIM_PROGRAM, options, Path("sim" + n + ".out"), Path("sim" + n + ".err"));
    run.status = vm.Wait(std::chrono::seconds(limitSeconds + 90));
    // The simulator ends when the guest's end of the line goes away.
    if (sim.Wait(10s) < 0) {
      sim.Signal(SIGTERM);
      sim.Wait(10s);
    }
    const std::string text = ReadWholeFile(console);
    const auto begin = text.find("=== vm: command begins");
    const auto end = text.rfind("=== vm: status");
    if (begin != std::string::npos && end != std::string::npos && end > begin)
      run.output = text.substr(begin, end - begin);
    run.report = ReadWholeFile(report);
    run.flash = ReadWholeFile(flash);
    run.simError = ReadWholeFile(Path("sim" + n + ".err"));
    if (run.status < 0 || run.status >= 124)
      ADD_FAILURE() << "the guest run failed (" << run.status << "):\n"
                    << ReadWholeFile(Path("vm" + n + ".err")) << text;
    return run;
  }

  std::string dir_;
  int boots_ = 0;
};

constexpr const char* kCli = "/bin/VERidOvudida-cli --port /dev/ttyS0";

TEST_F(VmBench, WholeFlashOverThe8250Driver) {
  // The probe holds the port beside the flasher, so the driver's own last-close handling
  // cannot hide whether the flasher lowered DTR and RTS, and reads the driver's counters.
  const GuestRun run =
      Boot(std::string("vm_probe line /dev/ttyS0 ") + kCli + " --yes", {"--version", "3.29"});
  ASSERT_EQ(run.Probe("status"), "0") << run.output << run.simError;
  EXPECT_NE(run.output.find("Flasher erfolgreich geflasht !!!"), std::string::npos) << run.output;
  EXPECT_EQ(run.flash, ReadWholeFile(IMAGE_HR0)) << "the simulated flash equals the image";
  // The device's final answer (flashed) was acknowledged by the flasher.
  const std::regex finalAnswer(
      "\"from\": \"device\"[^\n]*\"status\": \"delivered\"[^\n]*\"data\": \"00 02 F0 0A 01\"");
  EXPECT_TRUE(std::regex_search(run.report, finalAnswer)) << run.report.substr(0, 4000);

  // The driver counted what went over the line, and no error.
  EXPECT_EQ(run.Field("icount", "tx"), run.ReportNumber("bytes_received")) << run.output;
  EXPECT_EQ(run.Field("icount", "rx"), run.ReportNumber("bytes_sent")) << run.output;
  for (const char* counter : {"frame", "overrun", "parity", "brk", "buf_overrun"})
    EXPECT_EQ(run.Field("icount", counter), 0) << counter << " " << run.output;
  EXPECT_EQ(run.Probe("modem"), "dtr=0 rts=0") << "closing lowers DTR and RTS";
}

TEST_F(VmBench, RatesTheChipCannotMakeAreReported) {
  // The 8250's rates are 115200 divided by a whole number: beyond 2% off the request, or
  // not taken at all, is reported.
  const std::map<int, bool> rows = {{9600, false},  {14400, false}, {115200, false}, {56000, true},
                                    {100000, true}, {128000, true}, {250000, true}};
  std::string command = "vm_probe rates /dev/ttyS0";
  for (const auto& [rate, reported] : rows) command += " " + std::to_string(rate);
  const GuestRun run = Boot(command);
  for (const auto& [rate, reported] : rows) {
    const std::string rateText = std::to_string(rate);
    EXPECT_NE(run.Probe("rate " + rateText + " reports"), "") << "no line for " << rate;
    const bool got =
        run.output.find("probe: rate " + rateText + " report 0x1123") != std::string::npos;
    EXPECT_EQ(got, reported) << rate << "\n" << run.output;
  }
}

TEST_F(VmBench, ModemStatusRequestsCostLittle) {
  // Each modem-status or counter request charged 1 ms, as on a USB adapter. The shim's
  // line at exit: pid=.. us=<since load> tiocmget=.. tiocmset=.. tiocgicount=.. total=N.
  const std::string shim =
      "/bin/env LD_PRELOAD=/lib/shim/libmodem_shim.so MODEM_SHIM_COST_US=1000 "
      "MODEM_SHIM_COUNTS=/tmp/counts ";
  auto counted = [](const GuestRun& run, const char* name) {
    const std::regex field(std::string("counts: .* ") + name + "=([0-9]+)");
    std::smatch m;
    return std::regex_search(run.output, m, field) ? std::stod(m[1].str()) : -1.0;
  };
  // An unpaced flash: what the requests add is at most 5% of the flash without them.
  GuestRun run =
      Boot("vm_probe line /dev/ttyS0 " + shim + kCli + " --yes; echo counts: $(cat /tmp/counts)",
           {"--version", "3.29"});
  ASSERT_EQ(run.Probe("status"), "0") << run.output;
  const double requests = counted(run, "total");
  ASSERT_GE(requests, 0) << "the shim counted nothing: " << run.output;
  const double charged = requests * 0.001;
  const double seconds = std::stod(run.Probe("seconds"));
  EXPECT_LE(charged, 0.05 * (seconds - charged))
      << requests << " requests in a flash of " << seconds << " s";

  // An open, silent port.
  run = Boot(shim + "vm_probe idle /dev/ttyS0 5; echo counts: $(cat /tmp/counts)");
  const double perSecond = counted(run, "total") * 1e6 / counted(run, "us");
  EXPECT_GE(counted(run, "total"), 0) << run.output;
  EXPECT_LE(perSecond, 30) << run.output;
}

TEST_F(VmBench, ReceiveLatencyIsToldForTheDefaultTriggerOnly) {
  // A run that reads the identification and leaves without writing: enough to see the
  // traffic log's line and the advice, which the run shows at its end.
  const std::pair<const char*, bool> rows[] = {{"", true}, {"1", false}};
  for (const auto& [trigger, advised] : rows) {
    std::string command;
    if (*trigger)
      command = std::string("echo ") + trigger + " >/sys/class/tty/ttyS0/rx_trig_bytes; ";
    command += std::string(kCli) + " --no --log /tmp/traffic.log; echo probe: status $?; " +
               "grep Empfangslatenz /tmp/traffic.log";
    const GuestRun run = Boot(command, {"--version", "99.99"});
    EXPECT_EQ(run.Probe("status"), "2") << run.output;
    const std::string logLine =
        "Empfangslatenz ttyS0: rx_trig_bytes " + std::string(*trigger ? trigger : "");
    EXPECT_NE(run.output.find(logLine), std::string::npos) << trigger << run.output;
    EXPECT_EQ(
        run.output.find("Hinweis: ttyS0 gibt einzelne Bytes verzögert weiter") != std::string::npos,
        advised)
        << "trigger '" << trigger << "'\n"
        << run.output;
  }
}

}  // namespace
