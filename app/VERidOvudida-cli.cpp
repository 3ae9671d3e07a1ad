// The flasher on the command line: the same run as the window, for automation and for
// workshops without a desktop.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AnswerInput.h"
#include "app/ConsoleFrontEnd.h"
#include "app/ErrorAdvice.h"
#include "app/FlasherVersion.h"
#include "app/TZORurerizudor.h"
#include "connection/TDoVuverUve.h"
#include "platform/PortDescription.h"
#include "platform/StdMainLoop.h"
#include "platform/System.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"
#include "util/ComPortList.h"
#include "util/ProgramVersion.h"

namespace {

constexpr const char* kUsage =
    "Usage: VERidOvudida-cli --port PATH [--port PATH]... [--file PATH] [--yes | --no]\n"
    "                        [--log PATH]\n"
    "\n"
    "Flashes the device on the serial port PATH with the firmware built into the program;\n"
    "with several ports, every device at once.\n"
    "\n"
    "  --port PATH   serial port of a device (e.g. /dev/ttyUSB0); --list shows the ports;\n"
    "                give it once per device\n"
    "  --file PATH   image file of 131072 bytes to write instead of the built-in images\n"
    "  --yes, --no   answer to the question whether a version that is not newer shall be\n"
    "                written; without either it is asked on the terminal, and declined\n"
    "                when there is no terminal\n"
    "  --log PATH    write the traffic log of the run to PATH; with several ports PATH is\n"
    "                a folder that gets one log per port\n"
    "  --list        list the serial ports and exit\n"
    "  --help        show this text\n"
    "  --version     show the version and those of the built-in images\n"
    "\n"
    "Exit status: 0 flashed, 1 the device reported an error, 2 left without writing,\n"
    "3 time-out, 4 an error report ended the run, 5 another final answer, 64 bad usage,\n"
    "66 the image file cannot be used, 70 the run ended without a result (internal fault),\n"
    "73 the --log file cannot be written. With several ports: 0 when every device was\n"
    "flashed, else the highest status of the runs.\n";

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

constexpr long long kTimeLimitMs = 300000;

// A run's time limit from the environment: a whole number of milliseconds from 1 up to the
// usual limit, so that no value can switch the limit off or stretch it.
bool ParseTimeLimit(const std::string& text, std::chrono::milliseconds& limit) {
  if (text.empty() || text.size() > 6) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  const long long ms = std::stoll(text);
  if (ms < 1 || ms > kTimeLimitMs) return false;
  limit = std::chrono::milliseconds(ms);
  return true;
}

// One device's run: its own view, questions, component chain, time limit and verdict.
struct PortRun {
  std::string port;
  std::unique_ptr<ConsoleView> view;
  std::unique_ptr<ConsoleMessages> messages;
  std::unique_ptr<TZORurerizudor> form;
  bool ended = false;
  std::chrono::steady_clock::time_point started, sending_since, finished;
  bool sending_seen = false;
};

using Clock = std::chrono::steady_clock;

std::string Version(std::int32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", v / 100, v % 100);
  return text;
}

// A verdict in a word or two, for the board and the summary.
std::string VerdictWord(RunResult result) {
  switch (result) {
    case RunResult::Flashed:
      return "geflasht";
    case RunResult::DeviceError:
      return "Gerät meldet Fehler";
    case RunResult::LeftWithoutWriting:
      return "nicht geschrieben";
    case RunResult::TimeOut:
      return "Zeitüberschreitung";
    case RunResult::ErrorReport:
      return "Fehler der Leitung";
    case RunResult::OtherAnswer:
      return "andere Antwort";
    case RunResult::FileError:
      return "Datei unbrauchbar";
    case RunResult::None:
      break;
  }
  return "kein Ergebnis";
}

int BlocksSent(const PortRun& run) {
  TZORurerizudor& form = *run.form;
  const int total = form.BlockCount();
  switch (form.Status()) {
    case TStatus::stStart:
      return 0;
    case TStatus::stNeustart:
      return form.SRText().empty() ? total : 0;  // else it left without writing
    case TStatus::stSenden:
      break;
  }
  const int waiting = static_cast<int>(form.RiVadaroverEza1().ToSendListe.size());
  return std::clamp(total - waiting, 0, total);
}

// One line of the board: port, state, bar, blocks, rate and time left.
std::string BoardRow(PortRun& run, std::size_t port_width) {
  TZORurerizudor& form = *run.form;
  const auto now = Clock::now();
  std::string state;
  if (run.ended) {
    state = VerdictWord(form.LastResult());
  } else if (!form.Running()) {
    state = "wartet";
  } else if (form.Status() == TStatus::stStart) {
    state = "Erkennung";
  } else if (form.Status() == TStatus::stSenden) {
    state = "Senden";
  } else {
    state = "Abschluss";
  }
  if (form.Running() && form.Status() == TStatus::stSenden && !run.sending_seen) {
    run.sending_seen = true;
    run.sending_since = now;
  }
  const int total = form.BlockCount();
  const int sent = BlocksSent(run);
  constexpr int kBar = 24;
  const int filled = total > 0 ? sent * kBar / total : 0;
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kBar - filled), '-');
  std::string rate = "-";
  std::string left = "-";
  if (run.sending_seen && sent > 0) {
    const auto until = run.ended ? run.finished : now;
    const double seconds = std::chrono::duration<double>(until - run.sending_since).count();
    if (seconds > 0.2) {
      const double per_second = sent / seconds;
      char text[32];
      std::snprintf(text, sizeof text, "%.0f B/s", per_second * 64);
      rate = text;
      if (!run.ended) {
        const int remaining = static_cast<int>((total - sent) / per_second + 0.5);
        std::snprintf(text, sizeof text, "noch %d:%02d", remaining / 60, remaining % 60);
        left = text;
      }
    }
  }
  char line[256];
  std::snprintf(line, sizeof line, "%-*s  %-18s [%s] %4d/%-4d %10s  %s",
                static_cast<int>(port_width), run.port.c_str(), state.c_str(), bar.c_str(), sent,
                total, rate.c_str(), left.c_str());
  return line;
}

// The table at the end of several runs.
std::string Summary(const std::vector<std::unique_ptr<PortRun>>& runs, std::size_t port_width) {
  std::string table;
  char line[256];
  std::snprintf(line, sizeof line, "%-*s  %-3s  %-7s  %-11s  %-22s  %s\n",
                static_cast<int>(port_width), "Port", "HW", "vorher", "geschrieben", "Ergebnis",
                "Zeit");
  table += line;
  for (const auto& run : runs) {
    const TZORurerizudor& form = *run->form;
    const bool known = form.DeviceRevision() >= 0;
    const bool flashed = form.LastResult() == RunResult::Flashed;
    const std::int32_t written =
        form.HR() == THardwareRevision::hr0_M16CNA ? form.VersionHR0() : form.VersionHR1();
    const double seconds = std::chrono::duration<double>(run->finished - run->started).count();
    // The verdict column is counted in characters, not bytes.
    std::string verdict =
        VerdictWord(form.LastResult()) + " (" + std::to_string(ExitStatus(form.LastResult())) + ")";
    int width = 0;
    for (const char c : verdict) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    verdict += std::string(static_cast<std::size_t>(std::max(0, 22 - width)), ' ');
    std::snprintf(line, sizeof line, "%-*s  %-3s  %-7s  %-11s  %s  %.1f s\n",
                  static_cast<int>(port_width), run->port.c_str(),
                  known ? std::to_string(form.DeviceRevision()).c_str() : "-",
                  known ? Version(form.VersionAktuell()).c_str() : "-",
                  flashed ? Version(written).c_str() : "-", verdict.c_str(), seconds);
    table += line;
  }
  return table;
}

// The log file of `port` inside the folder `dir`: the port's path with its slashes as '_'.
std::string LogFileIn(const std::string& dir, const std::string& port) {
  std::string name = port;
  std::replace(name.begin(), name.end(), '/', '_');
  name.erase(0, name.find_first_not_of('_'));
  return dir + "/" + (name.empty() ? "port" : name) + ".log";
}

int Usage(const char* problem) {
  std::fprintf(stderr, "VERidOvudida-cli: %s\n\n%s", problem, kUsage);
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForVersion(argc, argv)) {
    std::fputs(FlasherVersionText("VERidOvudida-cli").c_str(), stdout);
    return 0;
  }
  std::vector<std::string> ports;
  std::string file = flasher_text::kDefaultFile;
  std::string log;
  std::optional<bool> answer;
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
      // The name first, as the port box lists it, then what the port is.
      for (const std::string& p : GetComPortList()) {
        const std::string what = platform::DescribePort(p);
        std::printf("%s%s%s\n", p.c_str(), what.empty() ? "" : "\t", what.c_str());
      }
      return 0;
    } else if (arg == "--port") {
      std::string port;
      if (!value(port)) return Usage("--port needs a path");
      if (std::find(ports.begin(), ports.end(), port) != ports.end())
        return Usage(("port '" + port + "' is given twice").c_str());
      ports.push_back(port);
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
  if (ports.empty()) return Usage("--port is missing");
  const bool several = ports.size() > 1;

  std::chrono::milliseconds limit(kTimeLimitMs);
  // Tests shorten the run's time limit; users never need to.
  if (const char* test_limit = std::getenv("VERIDOVUDIDA_TEST_TIME_LIMIT_MS");
      test_limit && !ParseTimeLimit(test_limit, limit)) {
    std::fprintf(stderr,
                 "VERidOvudida-cli: VERIDOVUDIDA_TEST_TIME_LIMIT_MS='%s' is not a whole number "
                 "of milliseconds from 1 to %lld\n",
                 test_limit, kTimeLimitMs);
    return 64;
  }
  if (std::error_code error; several && !log.empty() &&
                             !std::filesystem::create_directory(log, error) && error) {
    std::fprintf(stderr, "VERidOvudida-cli: cannot create the folder %s: %s\n", log.c_str(),
                 error.message().c_str());
    return 73;
  }

  platform::StdMainLoop loop;
  const bool terminal = PrepareConsole(stdout);
  std::size_t port_width = 4;
  for (const std::string& p : ports) port_width = std::max(port_width, p.size());
  // On a terminal every run has its line on the board, redrawn a few times a second.
  std::unique_ptr<ProgressBoard> board;
  std::unique_ptr<platform::Timer> redraw;
  QuestionDesk desk;
  if (terminal) {
    board = std::make_unique<ProgressBoard>(stdout);
    board->SetSuspended([&desk] { return desk.reading.load(); });
    redraw = loop.CreateTimer(std::chrono::milliseconds(250));
    redraw->OnTimer = [&board] { board->Draw(); };
  }

  std::vector<std::unique_ptr<PortRun>> runs;
  std::size_t ended = 0;
  for (const std::string& port : ports) {
    auto run = std::make_unique<PortRun>();
    PortRun& r = *run;
    r.port = port;
    r.view = std::make_unique<ConsoleView>(port, file, stdout, terminal);
    if (several) {
      r.view->SetLabel(port);
      r.view->SetShowCaption(runs.empty());
    }
    r.view->SetBoard(board.get());
    r.view->SetDesk(&desk);
    const std::string log_file = several && !log.empty() ? LogFileIn(log, port) : log;
    if (!log_file.empty() && !r.view->OpenLog(log_file)) {
      std::fprintf(stderr, "VERidOvudida-cli: cannot write %s: %s\n", log_file.c_str(),
                   std::strerror(errno));
      return 73;
    }
    r.messages =
        std::make_unique<ConsoleMessages>(loop, *r.view, answer, platform::IsTerminal(stdin));
    r.messages->SetDesk(&desk, [&r] { return r.form && !r.form->Running(); });
    TZORurerizudor::Setup setup{loop,
                                *r.messages,
                                *r.view,
                                [] { return GetComPortList(); },
                                platform::ExecutablePath(argc > 0 ? argv[0] : nullptr),
                                MakeSerialPort,
                                limit};
    // The other runs go on while one waits out its end.
    setup.end_wait_blocks = !several;
    r.form = std::make_unique<TZORurerizudor>(setup);
    r.form->OnRunEnded = [&, &r = r](RunResult) {
      // The window adds this line to its box; here it goes to the error texts, above the
      // progress board and with the port's label like every other line.
      if (const std::string advice = ErrorAdvice(*r.form); !advice.empty())
        r.view->Print(stderr, advice);
      r.ended = true;
      r.finished = Clock::now();
      if (++ended == ports.size()) loop.Quit();
    };
    if (board) {
      board->AddRow([&r = r, port_width] { return BoardRow(r, port_width); });
    }
    runs.push_back(std::move(run));
  }

  for (auto& run : runs) {
    run->started = Clock::now();
    run->form->FlashClick();
    // The image file is the same for every port: one that cannot be used stops them all.
    if (run->form->LastResult() == RunResult::FileError) return ExitStatus(RunResult::FileError);
  }
  if (redraw) {
    redraw->Start();
    board->Draw();
  }
  if (ended < runs.size()) loop.Run();
  if (redraw) redraw->Stop();

  int status = 0;
  for (auto& run : runs) {
    // What the run logged after the block transfer never reached the memo; keep it too.
    run->view->AppendToLog(run->form->DoVuverUve1().ProtokollListe);
    status = std::max(status, ExitStatus(run->form->LastResult()));
  }
  if (board) board->Finish();
  if (several) {
    std::fputs(Summary(runs, port_width).c_str(), stdout);
    std::fflush(stdout);
  }
  return status;
}
