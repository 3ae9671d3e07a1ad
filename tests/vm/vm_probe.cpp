// The guest's test program: looks at the serial line as the driver reports it, around the
// flasher or around the serial port component.
//
//   vm_probe line PORT PROGRAM ARG...  runs PROGRAM with PORT held open beside it, then
//                                      prints what the driver counted meanwhile and the
//                                      modem outputs as the program left them
//   vm_probe rates PORT RATE...        opens PORT with the component at each RATE and
//                                      prints the places of the error reports
//   vm_probe idle PORT SECONDS         keeps PORT open and silent with the component
//
// Output lines start with "probe:"; the exit status is PROGRAM's (line) or 0.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/StdMainLoop.h"
#include "serial/TDaVevureRez.h"

namespace {

double Seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int Line(const char* port, char** program) {
  // Held open from before the program's opening to after its closing: so the driver's own
  // last-close handling cannot mask what the program did to the line.
  const int fd = open(port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::perror("probe: open");
    return 70;
  }
  serial_icounter_struct before{}, after{};
  if (ioctl(fd, TIOCGICOUNT, &before) != 0) std::perror("probe: TIOCGICOUNT");
  const double start = Seconds();
  const pid_t child = fork();
  if (child == 0) {
    execv(program[0], program);
    std::perror("probe: exec");
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double elapsed = Seconds() - start;
  if (ioctl(fd, TIOCGICOUNT, &after) != 0) std::perror("probe: TIOCGICOUNT");
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) != 0) std::perror("probe: TIOCMGET");
  close(fd);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("probe: status %d\nprobe: seconds %.3f\n", code, elapsed);
  std::printf("probe: icount tx=%d rx=%d frame=%d overrun=%d parity=%d brk=%d buf_overrun=%d\n",
              after.tx - before.tx, after.rx - before.rx, after.frame - before.frame,
              after.overrun - before.overrun, after.parity - before.parity, after.brk - before.brk,
              after.buf_overrun - before.buf_overrun);
  std::printf("probe: modem dtr=%d rts=%d\n", (lines & TIOCM_DTR) ? 1 : 0,
              (lines & TIOCM_RTS) ? 1 : 0);
  return code;
}

struct Owner : TObject {};

// A component on `port` with the flasher's settings, reporting errors as "probe: report".
struct Component {
  Component(const char* port, std::uint32_t rate) : serial(&owner, loop) {
    serial.SetComPort(port);
    serial.SetBaudRate(rate);
    serial.SetErrorNoise(0);
    serial.OnProcessError = [this](TObject*, std::uint32_t place, std::uint32_t code,
                                   const ByteString& text, std::uint8_t) {
      std::printf("probe: rate %u report 0x%04X code %u %s\n", serial.BaudRate(), place, code,
                  text.c_str());
      ++reports;
    };
  }
  Owner owner;
  platform::StdMainLoop loop;
  TDaVevureRez serial;
  int reports = 0;
};

int Rates(const char* port, char** rates) {
  for (; *rates; ++rates) {
    const auto rate = static_cast<std::uint32_t>(std::strtoul(*rates, nullptr, 10));
    Component c(port, rate);
    c.serial.SetActive(true);
    c.loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
    c.serial.SetActive(false);
    std::printf("probe: rate %u reports %d\n", rate, c.reports);
  }
  return 0;
}

int Idle(const char* port, double seconds) {
  Component c(port, 9600);
  c.serial.SetActive(true);
  const double start = Seconds();
  c.loop.RunUntil([] { return false; },
                  std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
  std::printf("probe: idle %.3f\n", Seconds() - start);
  c.serial.SetActive(false);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  int status = 64;
  if (mode == "line" && argc > 3) {
    status = Line(argv[2], argv + 3);
  } else if (mode == "rates") {
    status = Rates(argv[2], argv + 3);
  } else if (mode == "idle" && argc == 4) {
    status = Idle(argv[2], std::atof(argv[3]));
  } else {
    std::fputs("usage: vm_probe line PORT PROGRAM ARG... | rates PORT RATE... | idle PORT S\n",
               stderr);
  }
  std::fflush(stdout);
  return status;
}
