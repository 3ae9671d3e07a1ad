// The mirbazento-sim program, driven by a small scripted host over its pseudo-terminal.
// Every wall-clock wait here is a generous upper bound; nothing depends on speed except the
// pacing test's lower bound, which a slow machine can only make easier to meet.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "tools/simulator/FlashLoader.h"
#include "tools/simulator/Link3964.h"

using namespace sim;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned char STX = ctl::kSTX, DLE = ctl::kDLE, NAK = ctl::kNAK;
constexpr auto kPatience = 10s;  // upper bound for anything the simulator should do at once

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (const int b : bytes) out += static_cast<char>(b);
  return out;
}

Bytes Block(std::uint32_t address, unsigned char fill) {
  return B({static_cast<int>(address >> 16), static_cast<int>((address >> 8) & 0xFF),
            static_cast<int>(address & 0xFF)}) +
         Bytes(64, static_cast<char>(fill));
}

const Bytes kFinish = B({0xF0, 0x0A, 0x01});

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A scratch folder per test, removed afterwards.
struct Scratch {
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "simtest-XXXXXX").string();
    dir = mkdtemp(pattern.data());
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string operator/(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
};

// The simulator as a child process with its standard output on a pipe.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args, const std::string& portsDir = "") {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      if (!portsDir.empty()) setenv("QUENZHAL_PORTS_DIR", portsDir.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(SIM_PROGRAM)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(SIM_PROGRAM, argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next line of standard output; empty at its end or after the patience ran out.
  std::string Line() {
    const auto end = Clock::now() + kPatience;
    std::size_t nl;
    while ((nl = buffer_.find('\n')) == std::string::npos) {
      if (!Fill(end)) return "";
    }
    std::string line = buffer_.substr(0, nl);
    buffer_.erase(0, nl + 1);
    return line;
  }
  // Everything left on standard output up to its end.
  std::string Rest() {
    const auto end = Clock::now() + kPatience;
    while (Fill(end)) {
    }
    return std::exchange(buffer_, "");
  }
  void Signal(int signal) { kill(pid_, signal); }
  // The exit code, or -1 when the process did not exit in time (or died of a signal).
  int Wait() {
    const auto end = Clock::now() + kPatience;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > end) return -1;
      std::this_thread::sleep_for(10ms);
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  // Reads what standard output has; false at its end or at `end`.
  bool Fill(Clock::time_point end) {
    pollfd p{out_, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[512];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

// The flasher's side of the line, scripted.
class Host {
 public:
  explicit Host(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Host() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool IsOpen() const { return fd_ >= 0; }

  void Send(const Bytes& bytes) { ASSERT_TRUE(TrySend(bytes)); }
  bool TrySend(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Up to `n` bytes, waiting at most `limit`; stops early at a hang-up.
  Bytes Read(std::size_t n, Clock::duration limit = kPatience) {
    const auto end = Clock::now() + limit;
    Bytes got;
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char chunk[512];
      const ssize_t r = read(fd_, chunk, std::min(sizeof chunk, n - got.size()));
      if (r <= 0) {
        hungUp = true;
        break;
      }
      got.append(chunk, static_cast<std::size_t>(r));
    }
    return got;
  }
  void SendTelegram(const Bytes& data) {
    Send(B({STX}));
    ASSERT_EQ(Read(1), B({DLE}));
    Send(Link3964::Frame(data));
    ASSERT_EQ(Read(1), B({DLE}));
  }
  void ExpectTelegram(const Bytes& data) {
    ASSERT_EQ(Read(1), B({STX}));
    Send(B({DLE}));
    const Bytes frame = Link3964::Frame(data);
    ASSERT_EQ(HexBytes(Read(frame.size())), HexBytes(frame));
    Send(B({DLE}));
  }

  bool hungUp = false;

 private:
  int fd_ = -1;
};

void ExpectInReport(const std::string& report, std::initializer_list<const char*> parts) {
  for (const char* part : parts) {
    EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
  }
}

}  // namespace

TEST(SimulatorProgram, FlashesOverItsRegisteredPortAndWritesReportAndImage) {
  Scratch scratch;
  SimProcess sim({"--name", "Test-Sim", "--once", "--revision", "1", "--version", "13.29",
                  "--report", scratch / "report.json", "--flash-out", scratch / "flash.bin"},
                 scratch / "ports");
  const std::string pts = sim.Line();
  const std::string registered = sim.Line();
  ASSERT_EQ(pts.rfind("/dev/pts/", 0), 0u) << pts;
  EXPECT_EQ(registered, scratch / "ports/Test-Sim");
  EXPECT_EQ(fs::read_symlink(registered).string(), pts);

  {
    Host peek(registered);  // the flasher's port box may open and close it first
    ASSERT_TRUE(peek.IsOpen());
  }
  Host host(registered);
  ASSERT_TRUE(host.IsOpen());
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x01, 0x0D, 0x1D}));
  host.SendTelegram(Block(0xE0000, 0x10));  // DLEs doubled on the line
  host.SendTelegram(Block(0xE0040, 0x41));
  host.SendTelegram(Block(0xFFFC0, 0x42));
  host.SendTelegram(kFinish);
  host.ExpectTelegram(B({0x00, 0x02, 0xF0, 0x0A, 0x01}));
  host.Close();  // with --once, closing the port ends the simulator
  EXPECT_EQ(sim.Wait(), 0);

  EXPECT_FALSE(fs::exists(fs::symlink_status(registered))) << "unregistered at exit";
  const std::string flash = ReadFile(scratch / "flash.bin");
  ASSERT_EQ(flash.size(), 131072u);
  EXPECT_EQ(flash.substr(0, 64), Bytes(64, 0x10));
  EXPECT_EQ(flash.substr(64, 64), Bytes(64, 0x41));
  EXPECT_EQ(flash.substr(128, 131072 - 192), Bytes(131072 - 192, '\xFF'));
  EXPECT_EQ(flash.substr(131072 - 64), Bytes(64, 0x42));
  ExpectInReport(
      ReadFile(scratch / "report.json"),
      {"\"end\": \"once\"", "\"host_opens\": 2", "\"dialogue_complete\": true",
       "\"ending\": \"finish\"", "\"blocks_received\": 3", "\"duplicates\": 0", "\"naks_sent\": 0",
       "\"address\": \"0x0FFFC0\"", "\"revision\": 1", "\"version\": \"13.29\""});
}

TEST(SimulatorProgram, RefusesBadTelegramsAndGivesWayInAConflict) {
  Scratch scratch;
  SimProcess sim({"--no-register", "--priority", "low", "--report", scratch / "report.json"});
  const std::string pts = sim.Line();
  EXPECT_EQ(sim.Line(), "-");
  Host host(pts);
  ASSERT_TRUE(host.IsOpen());

  // A wrong BCC is refused; the repetition is taken.
  Bytes bad = Link3964::Frame(FlashLoader::EntryCommand());
  bad.back() = static_cast<char>(bad.back() ^ 0x01);
  host.Send(B({STX}));
  ASSERT_EQ(host.Read(1), B({DLE}));
  host.Send(bad);
  EXPECT_EQ(host.Read(1), B({NAK}));
  host.SendTelegram(FlashLoader::EntryCommand());

  // The device asks for the line for its identification; the host asks at the same time.
  ASSERT_EQ(host.Read(1), B({STX}));
  host.Send(B({STX}));
  EXPECT_EQ(host.Read(1), B({DLE})) << "the device gives way";
  host.Send(Link3964::Frame(Block(0xE0000, 0x10)));
  EXPECT_EQ(host.Read(1), B({DLE}));
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  ExpectInReport(
      ReadFile(scratch / "report.json"),
      {"\"end\": \"signal\"", "\"conflicts\": 1", "\"naks_sent\": 1", "\"status\": \"bcc-error\"",
       "\"host_repetitions\": 1", "\"blocks_received\": 1"});
}

TEST(SimulatorProgram, FaultOptionsShowOnTheLine) {
  auto start = [](const std::vector<std::string>& faults) {
    std::vector<std::string> args{"--no-register"};
    args.insert(args.end(), faults.begin(), faults.end());
    return std::make_unique<SimProcess>(args);
  };
  {
    SCOPED_TRACE("--nak-first");
    auto sim = start({"--nak-first", "1"});
    Host host(sim->Line());
    host.Send(B({STX}));
    ASSERT_EQ(host.Read(1), B({DLE}));
    host.Send(Link3964::Frame(FlashLoader::EntryCommand()));
    EXPECT_EQ(host.Read(1), B({NAK}));
    host.SendTelegram(FlashLoader::EntryCommand());
  }
  {
    SCOPED_TRACE("--ignore-stx");
    auto sim = start({"--ignore-stx", "1"});
    Host host(sim->Line());
    host.Send(B({STX}));
    EXPECT_EQ(host.Read(1, 300ms), Bytes());
    host.Send(B({STX}));
    EXPECT_EQ(host.Read(1), B({DLE}));
  }
  for (const char* silent : {"--mute", "--drop-rate=1"}) {
    SCOPED_TRACE(silent);
    auto sim = start({silent});
    Host host(sim->Line());
    host.Send(B({STX}));
    EXPECT_EQ(host.Read(1, 300ms), Bytes());
  }
  {
    SCOPED_TRACE("--corrupt-rate");
    auto sim = start({"--corrupt-rate", "1"});
    Host host(sim->Line());
    host.Send(B({STX}));
    const Bytes answer = host.Read(1);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_NE(answer, B({DLE}));
  }
  {
    SCOPED_TRACE("--hangup-after");
    Scratch scratch;
    auto sim = start({"--hangup-after", "2", "--report", scratch / "report.json"});
    Host host(sim->Line());
    host.SendTelegram(FlashLoader::EntryCommand());
    host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
    host.SendTelegram(Block(0xE0000, 1));
    host.SendTelegram(Block(0xE0040, 2));
    host.TrySend(B({STX}));  // fails if the line is already dead
    EXPECT_EQ(host.Read(1), Bytes());
    EXPECT_TRUE(host.hungUp) << "the line went dead after the second block";
    EXPECT_EQ(sim->Wait(), 0);
    ExpectInReport(ReadFile(scratch / "report.json"),
                   {"\"end\": \"hangup\"", "\"blocks_received\": 2", "\"hangup_after\": 2"});
  }
  {
    SCOPED_TRACE("--hangup-after-answer");
    Scratch scratch;
    auto sim = start({"--hangup-after-answer", "--report", scratch / "report.json"});
    Host host(sim->Line());
    host.SendTelegram(FlashLoader::EntryCommand());
    host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
    host.SendTelegram(kFinish);
    host.ExpectTelegram(B({0x00, 0x02, 0xF0, 0x0A, 0x01}));
    EXPECT_EQ(host.Read(1), Bytes());
    EXPECT_TRUE(host.hungUp) << "the line went dead after the final answer";
    EXPECT_EQ(sim->Wait(), 0);
    ExpectInReport(ReadFile(scratch / "report.json"),
                   {"\"end\": \"hangup\"", "\"hangup_after_answer\": true"});
  }
}

TEST(SimulatorProgram, PacedAt9600BaudAFlashTakesItsWireTime) {
  Scratch scratch;
  SimProcess sim({"--no-register", "--baud", "9600", "--once", "--linger", "0", "--report",
                  scratch / "report.json"});
  Host host(sim.Line());
  ASSERT_TRUE(host.IsOpen());
  const auto begin = Clock::now();
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
  for (int k = 0; k < 6; ++k) host.SendTelegram(Block(0xE0000 + 64 * k, 0x20));
  host.SendTelegram(kFinish);
  host.ExpectTelegram(B({0x00, 0x02, 0xF0, 0x0A, 0x01}));
  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  host.Close();
  EXPECT_EQ(sim.Wait(), 0);

  // Bytes on the line: each telegram is STX, DLE, frame, DLE.
  std::size_t bytes = 0;
  for (const Bytes& t :
       {FlashLoader::EntryCommand(), B({0, 2, 0, 3, 0}), kFinish, B({0, 2, 0xF0, 0x0A, 1})}) {
    bytes += 3 + Link3964::Frame(t).size();
  }
  bytes += 6 * (3 + Link3964::Frame(Block(0xE0000, 0x20)).size());
  const double wire = static_cast<double>(bytes) * 10.0 / 9600.0;  // about 0.7 s
  // The host cannot be faster than the line; a loaded machine only makes it slower.
  EXPECT_GT(elapsed, wire * 0.9);
  EXPECT_LT(elapsed, wire * 5 + 5.0);

  // In the simulator's own schedule each telegram took its bytes' wire time, within 10%.
  const std::string report = ReadFile(scratch / "report.json");
  std::size_t checked = 0;
  for (std::size_t pos = report.find("{\"from\""); pos != std::string::npos;
       pos = report.find("{\"from\"", pos + 1)) {
    const double start = std::stod(report.substr(report.find("\"start_ms\": ", pos) + 12));
    const double end = std::stod(report.substr(report.find("\"end_ms\": ", pos) + 10));
    const std::size_t dataPos = report.find("\"data\": \"", pos) + 9;
    const std::string hex = report.substr(dataPos, report.find('"', dataPos) - dataPos);
    Bytes data;
    for (std::size_t i = 0; i < hex.size(); i += 3) {
      data += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    const double expected = static_cast<double>(Link3964::Frame(data).size()) * 10000.0 / 9600.0;
    EXPECT_NEAR(end - start, expected, expected * 0.1) << report.substr(pos, 80);
    ++checked;
  }
  EXPECT_EQ(checked, 10u);
}

TEST(SimulatorProgram, CommandLineAndExitCodes) {
  {
    SimProcess help({"--help"});
    EXPECT_EQ(help.Line().rfind("Usage: mirbazento-sim", 0), 0u);
    EXPECT_NE(help.Rest().find("--hangup-after"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
  }
  {
    // Alone, --version is the program's own; with a value, the simulated firmware's.
    SimProcess version({"--version"});
    EXPECT_EQ(version.Line().rfind("mirbazento-sim ", 0), 0u);
    EXPECT_EQ(version.Wait(), 0);
  }
  {
    SimProcess bad({"--revision", "300"});
    EXPECT_EQ(bad.Line(), "");
    EXPECT_EQ(bad.Wait(), 2);
  }
  {
    SimProcess unwritable({"--no-register", "--report", "/nonexistent/dir/report.json"});
    EXPECT_EQ(unwritable.Line(), "") << "refused before it starts";
    EXPECT_EQ(unwritable.Wait(), 1);
  }
  {
    Scratch scratch;
    SimProcess limited(
        {"--no-register", "--time-limit", "0.2", "--report", scratch / "report.json"});
    EXPECT_NE(limited.Line(), "");
    EXPECT_EQ(limited.Wait(), 3);
    ExpectInReport(ReadFile(scratch / "report.json"), {"\"end\": \"time-limit\""});
  }
  {
    Scratch scratch;
    SimProcess first({"--name", "Same"}, scratch / "ports");
    EXPECT_EQ(first.Line().rfind("/dev/pts/", 0), 0u);
    SimProcess second({"--name", "Same"}, scratch / "ports");
    EXPECT_EQ(second.Line(), "") << "the name is taken";
    EXPECT_EQ(second.Wait(), 1);
    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch / "ports/Same")));
  }
}
