// mirbazento-sim: the MirbaZento's flash loader on a pseudo-terminal.
//
// One thread: a poll loop over the pseudo-terminal, a self-pipe for the stop signals and
// an inotify watch that tells when the flasher opens and closes the port. It sleeps until
// a byte comes in or the simulated device has something due.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/PortRegistration.h"
#include "tools/simulator/Options.h"
#include "tools/simulator/Pty.h"
#include "tools/simulator/Report.h"
#include "tools/simulator/Simulator.h"
#include "util/ProgramVersion.h"

using namespace sim;

namespace {

using namespace std::chrono_literals;

constexpr Micros kHangupDrainLimit = 5s;
constexpr Micros kHangupSettle = 100ms;
constexpr Micros kHangupDrainPoll = 5ms;  // the pseudo-terminal cannot signal "all read"
// On a paced line, reading stops while this many bytes wait to arrive, so a flasher that
// writes faster than the line is held back by the pseudo-terminal as by a real port.
constexpr std::size_t kMaxInputBacklog = 4096;

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
  errno = saved;
}

bool InstallSignals(std::string& error) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// Writes `data` to `path` through a temporary file, so a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string& error) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      error = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

// Finds out at the start, not after a long run, that an output file cannot be written.
bool CheckWritable(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  const std::string temp = path + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot write " + temp + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(temp.c_str());
  return true;
}

std::string LogLine(const TelegramRecord& t) {
  char head[64];
  std::snprintf(head, sizeof head, "%10.3f %-6s ", static_cast<double>(t.end.count()) / 1000.0,
                t.fromHost ? "host" : "device");
  std::string line = head + t.status;
  if (!t.fromHost && t.attempt > 1) line += " (attempt " + std::to_string(t.attempt) + ")";
  return line + ": " + HexBytes(t.data);
}

// Counts the flasher's openings of the port (our own opening came before the watch).
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~OpenWatch() {
    if (fd_ >= 0) close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  int Fd() const { return fd_; }
  bool Working() const { return fd_ >= 0; }
  int OpenNow() const { return open_; }
  int Opens() const { return opens_; }

  void Read() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return;
      for (ssize_t pos = 0; pos < n;) {
        inotify_event event;
        std::memcpy(&event, buffer + pos, sizeof event);
        if (event.mask & IN_OPEN) {
          ++open_;
          ++opens_;
        }
        if (event.mask & IN_CLOSE) open_ = std::max(0, open_ - 1);
        pos += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      }
    }
  }

 private:
  int fd_ = -1;
  int open_ = 0;
  int opens_ = 0;
};

struct Outcome {
  std::string end;
  int code = kExitOk;
};

Outcome Run(const Options& options, Pty& pty, Simulator& sim, OpenWatch& watch) {
  const auto start = std::chrono::steady_clock::now();
  auto now = [&] {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - start);
  };
  Bytes pending;  // due output the pseudo-terminal did not take yet
  Micros lingerEnd = kNever;
  Micros hangupStart = kNever;
  bool sawUnread = false;

  for (;;) {
    const Micros t = now();
    sim.Advance(t);
    pending += sim.TakeOutput();
    while (!pending.empty()) {
      const ssize_t n = write(pty.Master(), pending.data(), pending.size());
      if (n <= 0) break;  // full: the flasher does not read; wait for POLLOUT
      pending.erase(0, static_cast<std::size_t>(n));
    }

    Micros wake = sim.NextDeadline();
    if (sim.HangupDue(t) && pending.empty()) {
      // Closing drops what the flasher has not read yet, but the last acknowledgement was
      // on the wire before the line went dead: wait until it has been read. The bytes reach
      // the flasher's side a moment after the write, so "nothing unread" counts only once
      // they were seen there or after a short settling time.
      const int unread = pty.Unread();
      if (hangupStart == kNever) hangupStart = t;
      sawUnread = sawUnread || unread > 0;
      const bool read = unread == 0 && (sawUnread || sim.HangupAfterAcknowledgement() ||
                                        t >= hangupStart + kHangupSettle);
      if (read || t >= hangupStart + kHangupDrainLimit) {
        pty.Close();
        return {"hangup", kExitOk};
      }
      wake = t + kHangupDrainPoll;
    }
    if (options.once && sim.DialogueComplete() && sim.Quiet() && pending.empty()) {
      // Leave the line up until the flasher has closed it, so it never sees a hang-up.
      if (lingerEnd == kNever) lingerEnd = t + options.linger;
      if ((watch.Working() && watch.OpenNow() == 0) || t >= lingerEnd) return {"once", kExitOk};
    } else {
      lingerEnd = kNever;  // the flasher started another dialogue
    }
    if (options.timeLimit && t >= *options.timeLimit) return {"time-limit", kExitTimeLimit};

    if (lingerEnd != kNever) wake = std::min(wake, lingerEnd);
    if (options.timeLimit) wake = std::min(wake, *options.timeLimit);
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wake != kNever) {
      const auto left = std::max(Micros{0}, wake - now());
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000) * 1000;
      timeoutPtr = &timeout;
    }

    pollfd fds[3] = {
        {pty.Master(),
         static_cast<short>((sim.GetLine().InputBacklog() < kMaxInputBacklog ? POLLIN : 0) |
                            (pending.empty() ? 0 : POLLOUT)),
         0},
        {signalPipe[0], POLLIN, 0},
        {watch.Fd(), POLLIN, 0},  // a negative fd is skipped
    };
    if (ppoll(fds, 3, timeoutPtr, nullptr) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "mirbazento-sim: poll failed: %s\n", std::strerror(errno));
      return {"error", kExitFailure};
    }
    if (fds[1].revents & POLLIN) return {"signal", kExitOk};
    if (fds[2].revents & POLLIN) watch.Read();
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[4096];
      for (;;) {
        const ssize_t n = read(pty.Master(), buffer, sizeof buffer);
        if (n > 0) {
          sim.Input(Bytes(buffer, static_cast<std::size_t>(n)), now());
          continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
        // The owner of an attached terminal closed its side (the virtual machine ended).
        if (pty.Attached() && (n == 0 || errno == EIO)) return {"detached", kExitOk};
        // Cannot happen while we hold the slave side open; stop rather than spin.
        std::fprintf(stderr, "mirbazento-sim: the pseudo-terminal failed: %s\n",
                     n < 0 ? std::strerror(errno) : "end of file");
        return {"error", kExitFailure};
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Alone, --version is the program's; with a value it is the simulated firmware's.
  if (AsksForVersion(argc, argv)) {
    std::fputs(ProgramVersionText("mirbazento-sim").c_str(), stdout);
    return kExitOk;
  }
  Options options;
  std::string error;
  switch (ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case ParseResult::kHelp:
      std::fputs(UsageText().c_str(), stdout);
      return kExitOk;
    case ParseResult::kError:
      std::fprintf(stderr, "mirbazento-sim: %s\nTry 'mirbazento-sim --help'.\n", error.c_str());
      return kExitUsage;
    case ParseResult::kRun:
      break;
  }

  if (!CheckWritable(options.reportPath, error) || !CheckWritable(options.flashPath, error) ||
      !InstallSignals(error)) {
    std::fprintf(stderr, "mirbazento-sim: %s\n", error.c_str());
    return kExitFailure;
  }
  Pty pty;
  if (!(options.attach.empty() ? pty.Open(error) : pty.Attach(options.attach, error))) {
    std::fprintf(stderr, "mirbazento-sim: %s\n", error.c_str());
    return kExitFailure;
  }
  OpenWatch watch(pty.Path());
  if (!watch.Working() && options.once) {
    std::fprintf(stderr,
                 "mirbazento-sim: cannot watch the port; --once waits the full --linger time\n");
  }
  std::unique_ptr<platform::PortRegistration> registration;
  if (options.registerPort) {
    registration = platform::PortRegistration::Create(options.name, pty.Path(), error);
    if (!registration) {
      std::fprintf(stderr, "mirbazento-sim: cannot register the port: %s\n", error.c_str());
      return kExitFailure;
    }
  }

  std::printf("%s\n%s\n", pty.Path().c_str(), registration ? registration->Path().c_str() : "-");
  std::fflush(stdout);
  std::fprintf(stderr, "mirbazento-sim: device ready on %s%s%s\n", pty.Path().c_str(),
               registration ? ", registered as " : "",
               registration ? registration->Path().c_str() : "");

  Simulator sim(options.config);
  if (options.verbose) {
    sim.OnTelegram = [](const TelegramRecord& t) {
      std::fprintf(stderr, "%s\n", LogLine(t).c_str());
    };
  }
  Outcome outcome = Run(options, pty, sim, watch);
  pty.Close();
  registration.reset();  // unregistered before the files are written: the port is gone

  RunInfo info{outcome.end, watch.Opens(), options.Settings()};
  if (!options.reportPath.empty() &&
      !WriteFileAtomically(options.reportPath, ReportJson(sim, info), error)) {
    std::fprintf(stderr, "mirbazento-sim: %s\n", error.c_str());
    outcome.code = kExitFailure;
  }
  if (!options.flashPath.empty()) {
    const auto& flash = sim.Device().Flash();
    if (!WriteFileAtomically(options.flashPath, std::string(flash.begin(), flash.end()), error)) {
      std::fprintf(stderr, "mirbazento-sim: %s\n", error.c_str());
      outcome.code = kExitFailure;
    }
  }
  const FlashLoader& device = sim.Device();
  std::fprintf(stderr,
               "mirbazento-sim: stopped (%s): %d dialogue(s), %zu block(s) received, %zu "
               "duplicate(s), %zu rejected telegram(s)%s%s\n",
               outcome.end.c_str(), device.Dialogues(), device.BlockTelegrams(),
               device.Duplicates(), device.Rejected().size(),
               device.Ending().empty() ? "" : ", ended by the ",
               device.Ending().empty() ? "" : (device.Ending() + " command").c_str());
  return outcome.code;
}
