// Measures the serial component over a pseudo-terminal.
//
//   serial_bench idle [seconds]        CPU used while a port is open and silent, and while
//                                      the component is closed (default 10 s each)
//   serial_bench turnaround [rounds]   time from a byte the device sends to the answer it
//                                      gets, with the flasher's timing settings (default 200)
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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
  const double open = CpuShare(loop, duration);
  std::printf("component closed, %d s: %.3f %% of one core\n", seconds, closed * 100);
  std::printf("port open and silent, %d s: %.3f %% of one core\n", seconds, open * 100);
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

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "idle") return Idle(argc > 2 ? std::atoi(argv[2]) : 10);
  if (mode == "turnaround") return Turnaround(argc > 2 ? std::atoi(argv[2]) : 200);
  std::fprintf(stderr, "usage: serial_bench idle [seconds] | turnaround [rounds]\n");
  return 2;
}
