// A preloadable library (LD_PRELOAD) that gives pseudo-terminals the modem lines and the
// request cost of a real serial adapter, for tests and benchmarks.
//
// It replaces ioctl():
// - On a pseudo-terminal slave, TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC succeed: the
//   lines are emulated per descriptor. CTS, DSR and CD are on (see MODEM_SHIM_INPUTS),
//   DTR and RTS are on after opening and then as last set. TIOCGICOUNT succeeds there too:
//   no line errors, and the input line changes made with modem_shim_set_inputs counted.
// - On every terminal, each modem-status or counter request (TIOCMGET, TIOCMSET, TIOCMBIS,
//   TIOCMBIC, TIOCGICOUNT) that the device answers is charged a cost: the calling thread
//   sleeps that long, as a USB adapter's synchronous control request takes.
// - TIOCOUTQ passes through, but is counted apart; a test can make it report a fixed
//   output queue on pty slaves (modem_shim_set_outq), as a UART whose output is held or
//   still draining shows, which a pty never does.
// - Every other request, and these on anything but a terminal, pass through unchanged.
//
// Environment (read once at load):
//   MODEM_SHIM_COST_US   microseconds charged per request (default 0: no cost).
//                        An adapter's control request takes about 1000.
//   MODEM_SHIM_INPUTS    the input lines reported on an emulated pty, a list of any of
//                        CTS, DSR, CD, RI separated by commas (default "CTS,DSR,CD");
//                        "none" reports them all off.
//   MODEM_SHIM_COUNTS    a file that gets one line appended at exit:
//                          pid=<pid> us=<microseconds since load> tiocmget=<n>
//                          tiocmset=<n> tiocgicount=<n> total=<n>
//                        (tiocmset counts TIOCMSET, TIOCMBIS and TIOCMBIC; only requests
//                        on terminals are counted). Requests per second: total * 1e6 / us.
//
// A test in the process itself can reach the counters and the cost through the C functions
// at the end of this file (look them up with dlsym(RTLD_DEFAULT, ...)).
//
// Thread and signal safety: the state is a fixed table of atomics; ioctl() takes no lock,
// allocates nothing and calls only fstat() and nanosleep() besides the real ioctl().

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <linux/serial.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using RealIoctl = int (*)(int, unsigned long, ...);

// Unix98 pseudo-terminal slaves (/dev/pts/N) have these character-device majors.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

constexpr int kSlots = 4096;
// One slot per descriptor: bit 63 marks it used, bits 32..62 the device it was for (so a
// descriptor number that is reused for another pty starts with fresh lines), bits 0..31
// the output lines as last set.
constexpr std::uint64_t kUsed = std::uint64_t{1} << 63;
std::atomic<std::uint64_t> g_lines[kSlots];

std::atomic<RealIoctl> g_real{nullptr};
std::atomic<unsigned> g_cost_us{0};
std::atomic<int> g_inputs{TIOCM_CTS | TIOCM_DSR | TIOCM_CAR};
std::atomic<unsigned long> g_tiocmget{0}, g_tiocmset{0}, g_tiocgicount{0}, g_tiocoutq{0};
std::atomic<int> g_outq{-1};
// Changes of the input lines, counted as a driver counts them (cts, dsr, rng, dcd).
std::atomic<int> g_line_changes[4];
timespec g_loaded{};
char g_counts_file[512];

int RealCall(int fd, unsigned long request, void* arg) {
  RealIoctl real = g_real.load(std::memory_order_acquire);
  if (real != nullptr) return real(fd, request, arg);
  return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
}

bool IsPtySlave(int fd, std::uint64_t& device) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned major_number = major(st.st_rdev);
  device = (static_cast<std::uint64_t>(st.st_rdev) & 0x7fffffffu) << 32;
  return major_number >= kPtySlaveMajorFirst && major_number <= kPtySlaveMajorLast;
}

void Charge() {
  const unsigned cost = g_cost_us.load(std::memory_order_relaxed);
  if (cost == 0) return;
  timespec left{static_cast<time_t>(cost / 1000000), static_cast<long>(cost % 1000000) * 1000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void CountRequest(unsigned long request) {
  switch (request) {
    case TIOCMGET:
      g_tiocmget.fetch_add(1, std::memory_order_relaxed);
      break;
    case TIOCGICOUNT:
      g_tiocgicount.fetch_add(1, std::memory_order_relaxed);
      break;
    default:
      g_tiocmset.fetch_add(1, std::memory_order_relaxed);
      break;
  }
}

// The emulated lines of a pty slave descriptor; DTR and RTS on for a new one.
int OutputLines(int fd, std::uint64_t device) {
  if (fd < 0 || fd >= kSlots) return TIOCM_DTR | TIOCM_RTS;
  const std::uint64_t slot = g_lines[fd].load(std::memory_order_acquire);
  if ((slot & kUsed) != 0 && (slot & ~kUsed & ~std::uint64_t{0xffffffffu}) == device) {
    return static_cast<int>(slot & 0xffffffffu);
  }
  return TIOCM_DTR | TIOCM_RTS;
}

void SetOutputLines(int fd, std::uint64_t device, int lines) {
  if (fd < 0 || fd >= kSlots) return;
  g_lines[fd].store(kUsed | device | static_cast<std::uint32_t>(lines & (TIOCM_DTR | TIOCM_RTS)),
                    std::memory_order_release);
}

int Emulate(int fd, std::uint64_t device, unsigned long request, void* arg) {
  if (arg == nullptr) {
    errno = EFAULT;
    return -1;
  }
  if (request == TIOCGICOUNT) {
    auto* icount = static_cast<serial_icounter_struct*>(arg);
    std::memset(icount, 0, sizeof *icount);
    icount->cts = g_line_changes[0].load(std::memory_order_relaxed);
    icount->dsr = g_line_changes[1].load(std::memory_order_relaxed);
    icount->rng = g_line_changes[2].load(std::memory_order_relaxed);
    icount->dcd = g_line_changes[3].load(std::memory_order_relaxed);
    return 0;
  }
  int* value = static_cast<int*>(arg);
  const int inputs = g_inputs.load(std::memory_order_relaxed);
  // Descriptors that share a slot update it one at a time: a lost race would only mean a
  // test that sets the lines of one descriptor from two threads at once.
  const int lines = OutputLines(fd, device);
  switch (request) {
    case TIOCMGET:
      *value = lines | inputs;
      return 0;
    case TIOCMSET:
      SetOutputLines(fd, device, *value);
      return 0;
    case TIOCMBIS:
      SetOutputLines(fd, device, lines | *value);
      return 0;
    case TIOCMBIC:
      SetOutputLines(fd, device, lines & ~*value);
      return 0;
    default:
      break;
  }
  errno = EINVAL;
  return -1;
}

bool IsModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC ||
         request == TIOCGICOUNT;
}

int ParseInputs(const char* text) {
  int lines = 0;
  const char* p = text;
  while (*p != '\0') {
    const char* end = std::strchr(p, ',');
    const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
    auto is = [&](const char* name) {
      return std::strlen(name) == n && strncasecmp(p, name, n) == 0;
    };
    if (is("CTS")) lines |= TIOCM_CTS;
    if (is("DSR")) lines |= TIOCM_DSR;
    if (is("CD") || is("DCD")) lines |= TIOCM_CAR;
    if (is("RI") || is("RNG")) lines |= TIOCM_RNG;
    if (end == nullptr) break;
    p = end + 1;
  }
  return lines;
}

// Appends a decimal number to `out` (no stdio: this also runs late at exit).
char* Put(char* out, const char* end, const char* text, unsigned long long value) {
  while (*text != '\0' && out < end) *out++ = *text++;
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0 && out < end) *out++ = digits[--n];
  return out;
}

__attribute__((constructor)) void Load() {
  clock_gettime(CLOCK_MONOTONIC, &g_loaded);
  g_real.store(reinterpret_cast<RealIoctl>(dlsym(RTLD_NEXT, "ioctl")), std::memory_order_release);
  if (const char* cost = std::getenv("MODEM_SHIM_COST_US")) {
    g_cost_us.store(static_cast<unsigned>(std::strtoul(cost, nullptr, 10)));
  }
  if (const char* inputs = std::getenv("MODEM_SHIM_INPUTS")) g_inputs.store(ParseInputs(inputs));
  if (const char* file = std::getenv("MODEM_SHIM_COUNTS")) {
    std::strncpy(g_counts_file, file, sizeof g_counts_file - 1);
  }
}

__attribute__((destructor)) void Unload() {
  if (g_counts_file[0] == '\0') return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long us =
      (now.tv_sec - g_loaded.tv_sec) * 1000000LL + (now.tv_nsec - g_loaded.tv_nsec) / 1000;
  const unsigned long get = g_tiocmget.load(), set = g_tiocmset.load(),
                      icount = g_tiocgicount.load();
  char line[256];
  char* const end = line + sizeof line - 1;
  char* out = Put(line, end, "pid=", static_cast<unsigned long long>(getpid()));
  out = Put(out, end, " us=", static_cast<unsigned long long>(us));
  out = Put(out, end, " tiocmget=", get);
  out = Put(out, end, " tiocmset=", set);
  out = Put(out, end, " tiocgicount=", icount);
  out = Put(out, end, " total=", get + set + icount);
  *out++ = '\n';
  const int fd = open(g_counts_file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, static_cast<std::size_t>(out - line));
  (void)ignored;
  close(fd);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (request == TIOCOUTQ) {
    g_tiocoutq.fetch_add(1, std::memory_order_relaxed);
    std::uint64_t device = 0;
    const int outq = g_outq.load(std::memory_order_relaxed);
    if (outq >= 0 && arg != nullptr && IsPtySlave(fd, device)) {
      *static_cast<int*>(arg) = outq;
      return 0;
    }
    return RealCall(fd, request, arg);
  }
  if (!IsModemRequest(request)) return RealCall(fd, request, arg);

  std::uint64_t device = 0;
  int result;
  if (IsPtySlave(fd, device)) {
    const int saved = errno;
    result = Emulate(fd, device, request, arg);
    if (result == 0) errno = saved;
  } else {
    result = RealCall(fd, request, arg);
    // Not a terminal, or a request the device does not know: nothing was asked of it.
    if (result != 0 && (errno == ENOTTY || errno == EBADF || errno == EINVAL)) return result;
  }
  const int saved = errno;
  CountRequest(request);
  Charge();
  errno = saved;
  return result;
}

// The requests counted so far: TIOCMGET, TIOCMSET/BIS/BIC, TIOCGICOUNT, in this order.
__attribute__((visibility("default"))) void modem_shim_counts(unsigned long counts[3]) {
  counts[0] = g_tiocmget.load();
  counts[1] = g_tiocmset.load();
  counts[2] = g_tiocgicount.load();
}

// TIOCOUTQ requests so far (on any descriptor; not part of the counts above).
__attribute__((visibility("default"))) unsigned long modem_shim_outq_requests() {
  return g_tiocoutq.load();
}

// Makes TIOCOUTQ on pty slaves report `bytes` (a negative value: the real queue again).
__attribute__((visibility("default"))) void modem_shim_set_outq(int bytes) {
  g_outq.store(bytes);
}

// Changes the cost per request (microseconds) from now on.
__attribute__((visibility("default"))) void modem_shim_set_cost_us(unsigned cost_us) {
  g_cost_us.store(cost_us);
}

// Changes the input lines an emulated pty reports (TIOCM_CTS | TIOCM_DSR | ...).
__attribute__((visibility("default"))) void modem_shim_set_inputs(int lines) {
  const int now = lines & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG);
  const int changed = g_inputs.exchange(now) ^ now;
  const int bits[4] = {TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CAR};
  for (int i = 0; i < 4; ++i)
    if (changed & bits[i]) g_line_changes[i].fetch_add(1);
}

}  // extern "C"
