// Modem lines: the AT dialogue against a scripted modem on a pseudo-terminal (real serial
// component, real port), and the carrier on the fake comm port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "connection/TDoVuverUve.h"
#include "platform/StdMainLoop.h"
#include "serial/TDaVevureRez.h"

using namespace platform::comm;
using Strings = std::vector<std::string>;

namespace {

// The master side of a pseudo-terminal, playing a modem: it collects what it hears and
// answers the dial command with CONNECT.
class ScriptedModem {
 public:
  ScriptedModem() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_path_ = ptsname(master_);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedModem() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
  }
  const std::string& SlavePath() const { return slave_path_; }
  std::string Heard() const {
    std::lock_guard lock(mutex_);
    return heard_;
  }
  // Waits (bounded) until `text` has been heard in full.
  bool WaitFor(const std::string& text) const {
    for (int i = 0; i < 5000; ++i) {
      if (Heard().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

 private:
  void Run() {
    bool answered = false;
    while (!stop_) {
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      std::lock_guard lock(mutex_);
      heard_.append(buffer, static_cast<std::size_t>(n));
      if (!answered && heard_.find("ATDT0815\r\n") != std::string::npos) {
        answered = true;
        const std::string answer = "\r\nCONNECT 9600\r\n";
        (void)!write(master_, answer.data(), answer.size());
      }
    }
  }

  int master_ = -1;
  std::string slave_path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string heard_;
};

}  // namespace

TEST(ModemOverAPseudoTerminal, DialsBackToBackConnectsOnConnectAndHangsUp) {
  ScriptedModem modem;
  ASSERT_FALSE(modem.SlavePath().empty());
  platform::StdMainLoop loop;
  TObject owner;
  TDaVevureRez com(&owner, loop);
  TDoVuverUve line(&owner, loop);
  line.SetDaVevureRez(&com);
  com.SetComPort(modem.SlavePath());
  com.SetRTOExtraDelayTime(20);
  std::vector<std::string> events;
  line.OnConnectEvent = [&](TObject*) { events.push_back("Connect"); };
  line.OnDisconnectEvent = [&](TObject*) { events.push_back("Disconnect"); };
  line.OnDataRecieveEvent = [&](TObject*) { events.push_back("DataRecieve"); };
  line.SetAnschlussTyp(TAnschlussTyp::astModem);
  line.SetIniString("ATZ");
  line.SetTeleNummer("0815");
  events.clear();

  line.SetActive(true);
  EXPECT_TRUE(line.Active());
  EXPECT_FALSE(line.Connected()) << "dialling";
  ASSERT_TRUE(modem.WaitFor("ATDT0815\r\n"));
  EXPECT_EQ(modem.Heard(), "AT&F\r\nATZ\r\nATDT0815\r\n");

  ASSERT_TRUE(loop.RunUntil([&] { return line.Connected(); }, std::chrono::seconds(10)));
  EXPECT_EQ(events, (Strings{"Connect", "DataRecieve"})) << "the same receive run reports";
  std::uint32_t size = 0;
  EXPECT_EQ(line.ReadNextCluster(size), "\r\nCONNECT 9600\r\n");
  bool answer_line = false;
  for (const auto& l : line.ProtokollListe)
    answer_line = answer_line || l.rfind("CONNECT   ", 0) == 0;
  EXPECT_TRUE(answer_line);

  line.SetActive(false);
  EXPECT_FALSE(com.Active());
  ASSERT_TRUE(modem.WaitFor("+++ATH0\r\n"));
  EXPECT_EQ(modem.Heard(), "AT&F\r\nATZ\r\nATDT0815\r\n+++ATH0\r\n");
  EXPECT_EQ(events.back(), "Disconnect");
}
