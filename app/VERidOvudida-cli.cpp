// The flasher on the command line: the same run as the window, for automation and for
// workshops without a desktop.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/ConsoleFrontEnd.h"
#include "app/TZORurerizudor.h"
#include "connection/TDoVuverUve.h"
#include "platform/StdMainLoop.h"
#include "platform/System.h"
#include "serial/TDaVevureRez.h"
#include "util/ComPortList.h"

namespace {

constexpr const char* kUsage =
    "Usage: VERidOvudida-cli --port PATH [--file PATH] [--yes | --no] [--log PATH]\n"
    "\n"
    "Flashes the device on the serial port PATH with the firmware built into the program.\n"
    "\n"
    "  --port PATH   serial port of the device (e.g. /dev/ttyUSB0); --list shows the ports\n"
    "  --file PATH   image file of 131072 bytes to write instead of the built-in images\n"
    "  --yes, --no   answer to the question whether a version that is not newer shall be\n"
    "                written; without either it is asked on the terminal, and declined\n"
    "                when there is no terminal\n"
    "  --log PATH    write the traffic log of the run to PATH\n"
    "  --list        list the serial ports and exit\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 0 flashed, 1 the device reported an error, 2 left without writing,\n"
    "3 time-out, 4 an error report ended the run, 5 another final answer, 64 bad usage,\n"
    "66 the image file cannot be used, 70 the run ended without a result (internal fault),\n"
    "73 the --log file cannot be written.\n";

int ExitStatus(RunResult result) {
  switch (result) {
    case RunResult::Flashed: return 0;
    case RunResult::DeviceError: return 1;
    case RunResult::LeftWithoutWriting: return 2;
    case RunResult::TimeOut: return 3;
    case RunResult::ErrorReport: return 4;
    case RunResult::OtherAnswer: return 5;
    case RunResult::FileError: return 66;
    case RunResult::None: break;
  }
  return 70;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "VERidOvudida-cli: %s\n\n%s", problem, kUsage);
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  std::string port;
  std::string file = flasher_text::kDefaultFile;
  std::string log;
  std::optional<bool> answer;
  bool have_port = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--list") {
      for (const std::string& p : GetComPortList()) std::puts(p.c_str());
      return 0;
    } else if (arg == "--port") {
      if (!value(port)) return Usage("--port needs a path");
      have_port = true;
    } else if (arg == "--file") {
      if (!value(file)) return Usage("--file needs a path");
    } else if (arg == "--log") {
      if (!value(log)) return Usage("--log needs a path");
    } else if (arg == "--yes" || arg == "--no") {
      if (answer && *answer != (arg == "--yes")) return Usage("--yes and --no exclude each other");
      answer = arg == "--yes";
    } else {
      return Usage(("unknown argument '" + arg + "'").c_str());
    }
  }
  if (!have_port) return Usage("--port is missing");

  std::chrono::milliseconds limit(300000);
  // Tests shorten the run's time limit; users never need to.
  if (const char* test_limit = std::getenv("VERIDOVUDIDA_TEST_TIME_LIMIT_MS"))
    limit = std::chrono::milliseconds(std::atol(test_limit));

  platform::StdMainLoop loop;
  ConsoleView view(port, file, stdout, platform::IsTerminal(stdout));
  if (!log.empty() && !view.OpenLog(log)) {
    std::fprintf(stderr, "VERidOvudida-cli: cannot write %s: %s\n", log.c_str(),
                 std::strerror(errno));
    return 73;
  }
  ConsoleMessages messages(loop, view, answer, platform::IsTerminal(stdin));
  TZORurerizudor form({loop, messages, view, [] { return GetComPortList(); },
                       platform::ExecutablePath(argc > 0 ? argv[0] : nullptr), MakeSerialPort, limit});
  bool ended = false;
  form.OnRunEnded = [&](RunResult) {
    ended = true;
    loop.Quit();
  };
  form.FlashClick();
  if (!ended) loop.Run();
  // What the run logged after the block transfer never reached the memo; keep it too.
  view.AppendToLog(form.DoVuverUve1().ProtokollListe);
  return ExitStatus(form.LastResult());
}
