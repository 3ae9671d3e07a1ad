// Measures the serial component over a pseudo-terminal.
//
//   serial_bench idle [seconds]        CPU used while the component is closed, while a port
//                                      is open and silent, and while its output is held
//                                      (default 10 s each); with the modem shim preloaded
//                                      (tests/shim) also the line requests per second
//   serial_bench turnaround [rounds]   time from a byte the device sends to the answer it
//                                      gets, with the flasher's timing settings (default 200)
//   serial_bench flash [cost_us]       a dense image flashed unpaced into the simulator by
//                                      the command-line flasher, over a plain pty and with
//                                      the modem shim charging cost_us (default 1000) per
//                                      modem-status request, as a USB adapter does: times,
//                                      ratio, requests per second, turnaround median and p99
//
// The programs are looked up beside this one (<build>/tools/serial_bench).
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/StdMainLoop.h"
#include "serial/TDaVevureRez.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Pty {
  int master = -1;
  int slave = -1;  // kept open so that the component's closing never hangs up the master
  std::string path;

  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    path = ptsname(master);
    slave = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios2 t{};
    ioctl(slave, TCGETS2, &t);
    t.c_iflag = t.c_oflag = t.c_lflag = 0;
    ioctl(slave, TCSETS2, &t);
  }
  ~Pty() {
    close(slave);
    close(master);
  }
};

bool ShimLoaded() {
  return dlsym(RTLD_DEFAULT, "modem_shim_counts") != nullptr;
}

// Modem-status and counter requests so far, with the modem shim preloaded (else 0).
unsigned long ShimRequests() {
  auto* counts =
      reinterpret_cast<void (*)(unsigned long[3])>(dlsym(RTLD_DEFAULT, "modem_shim_counts"));
  if (!counts) return 0;
  unsigned long c[3];
  counts(c);
  return c[0] + c[1] + c[2];
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the loop for `duration` and returns the share of one core used meanwhile.
double CpuShare(platform::StdMainLoop& loop, std::chrono::seconds duration) {
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  loop.RunUntil([] { return false; }, duration);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds() - cpu) / wall;
}

int Idle(int seconds) {
  Pty pty;
  if (pty.slave < 0) return std::fprintf(stderr, "no pseudo-terminal\n"), 1;
  platform::StdMainLoop loop;
  TObject owner;
  int failures = 0;
  TDaVevureRez com(&owner, loop);
  com.OnProcessError = [&](TObject*, std::uint32_t place, std::uint32_t code, const ByteString& msg,
                           std::uint8_t noise) {
    if (noise < 2) {
      ++failures;
      std::fprintf(stderr, "report %04X %u %s\n", place, code, msg.c_str());
    }
  };
  const auto duration = std::chrono::seconds(seconds);
  const double closed = CpuShare(loop, duration);
  com.SetComPort(pty.path);
  com.SetActive(true);
  if (!com.Active()) return std::fprintf(stderr, "cannot open %s\n", pty.path.c_str()), 1;
  const unsigned long requests_before = ShimRequests();
  const double open = CpuShare(loop, duration);
  const unsigned long idle_requests = ShimRequests() - requests_before;

  // Output held: with the shim, one byte stays in the output queue as behind a low CTS;
  // without it the device sends XOFF, which holds the byte in the port's own queue.
  auto* set_outq = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "modem_shim_set_outq"));
  if (set_outq) {
    set_outq(1);
  } else {
    com.SetFlowControl(static_cast<std::int32_t>(platform::comm::DCB_OUTX));
    loop.RunUntil([] { return false; }, 200ms);
    const char xoff = com.XOFFChar();
    if (write(pty.master, &xoff, 1) != 1) return 1;
    loop.RunUntil([] { return false; }, 200ms);
  }
  // The write stays outstanding for the whole measurement.
  com.SetWTOExtraDelayTime(static_cast<std::uint32_t>(seconds) * 1000 + 5000);
  com.SendString("x");
  loop.RunUntil([] { return false; }, 100ms);
  const bool held = com.SendInProgress();
  const double holding = CpuShare(loop, duration);
  if (set_outq) set_outq(-1);
  std::printf("component closed, %d s: %.3f %% of one core\n", seconds, closed * 100);
  std::printf("port open and silent, %d s: %.3f %% of one core\n", seconds, open * 100);
  std::printf("port open, output held (%s), %d s: %.3f %% of one core%s\n",
              set_outq ? "output queue" : "XOFF", seconds, holding * 100,
              held ? "" : " (the write was not held!)");
  if (ShimLoaded())
    std::printf("line requests while open and silent: %.1f per second\n",
                static_cast<double>(idle_requests) / seconds);
  return failures == 0 ? 0 : 1;
}

int Turnaround(int rounds) {
  Pty pty;
  if (pty.slave < 0) return std::fprintf(stderr, "no pseudo-terminal\n"), 1;
  platform::StdMainLoop loop;
  TObject owner;
  TDaVevureRez com(&owner, loop);
  int failures = 0;
  com.OnProcessError = [&](TObject*, std::uint32_t place, std::uint32_t code, const ByteString& msg,
                           std::uint8_t noise) {
    if (noise < 2) {
      ++failures;
      std::fprintf(stderr, "report %04X %u %s\n", place, code, msg.c_str());
    }
  };
  // The flasher's settings.
  com.SetRTOExtraDelayTime(2);
  com.SetWTOExtraDelayTime(2);
  com.SetXTOAuto(false);
  com.SetComPort(pty.path);
  // Answer every byte from the device with one byte, as the link procedure does.
  com.OnRxClusterEvent = [&](TObject*) {
    while (com.NextClusterSize() > 0) {
      com.ReadNextClusterAsString();
      com.SendString(std::string(1, ctl::DLE));
    }
  };
  com.SetActive(true);
  if (!com.Active()) return std::fprintf(stderr, "cannot open %s\n", pty.path.c_str()), 1;

  std::vector<double> times;
  std::atomic<bool> done{false};
  std::thread device([&] {
    std::this_thread::sleep_for(300ms);  // the worker notices the open port
    char answer = 0;
    for (int i = 0; i < rounds; ++i) {
      // Pauses of varying length, as between telegrams.
      std::this_thread::sleep_for(std::chrono::milliseconds(1 + i % 7));
      const auto start = Clock::now();
      if (write(pty.master, &ctl::STX, 1) != 1) break;
      pollfd fd{pty.master, POLLIN, 0};
      if (poll(&fd, 1, 5000) != 1 || read(pty.master, &answer, 1) != 1) break;
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    done = true;
    loop.Post([] {});  // wakes the loop to see it
  });
  loop.RunUntil([&] { return done.load(); }, std::chrono::seconds(rounds * 6));
  device.join();
  loop.RunUntil([] { return false; }, 300ms);  // the last hand-overs
  com.SetActive(false);

  if (times.size() != static_cast<std::size_t>(rounds)) {
    std::fprintf(stderr, "only %zu of %d answers came\n", times.size(), rounds);
    return 1;
  }
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) { return times[static_cast<std::size_t>(q * (times.size() - 1))]; };
  std::printf("turnaround over %d rounds: median %.2f ms, 90 %% %.2f ms, max %.2f ms\n", rounds,
              at(0.5), at(0.9), times.back());
  return failures == 0 ? 0 : 1;
}

// --- A whole flash through the simulator ----------------------------------------------

std::string g_build;  // the build folder

// The number after `"key":` following `after` (or from the start) in a JSON text.
double JsonNumber(const std::string& json, const std::string& key, const std::string& after = "") {
  std::size_t from = after.empty() ? 0 : json.find("\"" + after + "\"");
  if (from == std::string::npos) return -1;
  const std::size_t at = json.find("\"" + key + "\"", from);
  if (at == std::string::npos) return -1;
  const std::size_t colon = json.find(':', at);
  return std::strtod(json.c_str() + colon + 1, nullptr);
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            int stdout_fd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> all_env = env;
  for (char** e = environ; *e; ++e) all_env.emplace_back(*e);
  std::vector<char*> envp;
  for (const auto& e : all_env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

struct FlashRun {
  bool ok = false;
  double wall_s = 0, exchange_s = 0, median_ms = 0, p99_ms = 0, requests = 0, request_s = 0;
};

FlashRun Flash(unsigned cost_us, bool shim) {
  FlashRun run;
  char dir[] = "/tmp/serial-bench-XXXXXX";
  if (!mkdtemp(dir)) return run;
  const std::string report = std::string(dir) + "/report.json";
  const std::string counts = std::string(dir) + "/counts";
  int out[2];
  if (pipe(out) != 0) return run;
  const pid_t sim = Spawn({g_build + "/tools/simulator/mirbazento-sim", "--no-register",
                           "--version", "0.01", "--once", "--report", report},
                          {}, out[1]);
  close(out[1]);
  std::string port;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') port += c;
  std::vector<std::string> env;
  if (shim) {
    env = {"LD_PRELOAD=" + g_build + "/tests/shim/libmodem_shim.so",
           "MODEM_SHIM_COST_US=" + std::to_string(cost_us), "MODEM_SHIM_COUNTS=" + counts};
  }
  const int devnull = open("/dev/null", O_WRONLY);
  const auto start = Clock::now();
  const pid_t cli = Spawn(
      {g_build + "/app/VERidOvudida-cli", "--port", port, "--file", g_build + "/app/dense.bin"},
      env, devnull);
  int status = -1;
  if (cli > 0) waitpid(cli, &status, 0);
  run.wall_s = std::chrono::duration<double>(Clock::now() - start).count();
  close(devnull);
  int sim_status = 0;
  if (sim > 0) waitpid(sim, &sim_status, 0);
  close(out[0]);
  std::ifstream in(report);
  std::stringstream json;
  json << in.rdbuf();
  const std::string text = json.str();
  run.exchange_s = JsonNumber(text, "exchange_ms") / 1000;
  run.median_ms = JsonNumber(text, "median", "host");
  run.p99_ms = JsonNumber(text, "p99", "host");
  std::ifstream counted(counts);
  std::string line;
  while (std::getline(counted, line)) {
    const auto total = line.find("total=");
    const auto us = line.find(" us=");
    if (total != std::string::npos) run.requests += std::strtod(line.c_str() + total + 6, nullptr);
    if (us != std::string::npos) run.request_s += std::strtod(line.c_str() + us + 4, nullptr) / 1e6;
  }
  std::remove(report.c_str());
  std::remove(counts.c_str());
  rmdir(dir);
  run.ok = cli > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.exchange_s > 0;
  if (!run.ok)
    std::fprintf(stderr, "the flash failed (status %d, port %s)\n", status, port.c_str());
  return run;
}

int FlashBoth(unsigned cost_us) {
  const FlashRun plain = Flash(0, false);
  const FlashRun costly = Flash(cost_us, true);
  if (!plain.ok || !costly.ok) return 1;
  auto show = [](const char* name, const FlashRun& r) {
    std::printf(
        "%-34s exchange %7.2f s (flasher %7.2f s), turnaround median %.2f ms, p99 %.2f ms\n", name,
        r.exchange_s, r.wall_s, r.median_ms, r.p99_ms);
  };
  std::printf("dense image, unpaced:\n");
  show("plain pty", plain);
  char name[64];
  std::snprintf(name, sizeof name, "with %u us per modem request", cost_us);
  show(name, costly);
  std::printf("ratio (with cost / plain)           %.3f\n", costly.exchange_s / plain.exchange_s);
  std::printf("modem-status requests               %.0f in %.2f s = %.1f per second\n",
              costly.requests, costly.request_s,
              costly.request_s > 0 ? costly.requests / costly.request_s : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string self = argv[0];
  const auto tools = self.rfind('/');
  g_build = tools == std::string::npos ? ".." : self.substr(0, tools) + "/..";
  if (mode == "idle") return Idle(argc > 2 ? std::atoi(argv[2]) : 10);
  if (mode == "turnaround") return Turnaround(argc > 2 ? std::atoi(argv[2]) : 200);
  if (mode == "flash")
    return FlashBoth(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1000);
  std::fprintf(stderr,
               "usage: serial_bench idle [seconds] | turnaround [rounds] | flash [cost_us]\n");
  return 2;
}
