// Stored settings against hostile or unlucky stores and inputs, as a user meets them: each
// row plants one input, does what the user does (load, save, open the dialog) and checks
// that it ends with a report or with the data: no hang, no crash, no exception, and no byte
// changed in a file the operation did not mean to write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaDudaroDevIza.h"
#include "tests/serial/FakePortFixture.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/SettingsStores.h"

namespace fs = std::filesystem;
using platform::RegValue;
using settings_test::Stored;

namespace {

constexpr const char* kRegkey = "Software\\Quenzhal";
constexpr const char* kSubKey = "DaVevureRezDefaultSettings";
constexpr const char* kKey = "Software\\Quenzhal\\DaVevureRezDefaultSettings";
constexpr const char* kProtocolKey = "Software\\Quenzhal\\RiVadaroverEzaDefaultSettings";
// Longer than any bounded wait of the store; a call still busy then would wait for ever.
constexpr auto kForEver = std::chrono::seconds(5);

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Section(const char* key,
                    std::initializer_list<std::pair<const char*, const char*>> values) {
  std::string text = std::string("[") + key + "]\n";
  for (const auto& [name, value] : values)
    text += std::string("\"") + name + "\"=sz:\"" + value + "\"\n";
  return text;
}

// Counts inotify events on the store's file name in its folder while it lives.
class FileEvents {
 public:
  FileEvents(const std::string& path, std::uint32_t mask)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), name_(fs::path(path).filename().string()) {
    inotify_add_watch(fd_, fs::path(path).parent_path().c_str(), mask);
  }
  ~FileEvents() { close(fd_); }
  int Count() {
    alignas(inotify_event) char buffer[64 * 1024];
    ssize_t n;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0)
      for (char* p = buffer; p < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(p);
        if (event->len && name_ == event->name) ++count_;
        p += sizeof(inotify_event) + event->len;
      }
    return count_;
  }

 private:
  int fd_;
  std::string name_;
  int count_ = 0;
};

// Unless the operation ended within kForEver, runs `unblock` on its own thread, again every
// 20 ms until the operation ends: it ends waits that would otherwise last for ever, so a
// regression fails instead of hanging.
class Watchdog {
 public:
  explicit Watchdog(std::function<void()> unblock) {
    if (!unblock) return;
    thread_ = std::thread([this, unblock = std::move(unblock)] {
      std::unique_lock lock(mutex_);
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kForEver);
      while (!done_cv_.wait_for(lock, wait, [this] { return done_; })) {
        fired_ = true;
        wait = std::chrono::milliseconds(20);
        lock.unlock();
        unblock();
        lock.lock();
      }
    });
  }
  ~Watchdog() { Stop(); }
  // True when it had to step in.
  bool Stop() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

class HostileStore : public serial_test::FakePortFixture {
 protected:
  void SetUp() override {
    FakePortFixture::SetUp();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fs::temp_directory_path() / ("hostile-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override {
    dialog.reset();
    std::error_code ignored;
    fs::permissions(root / "quenzhal", fs::perms::owner_all, ignored);
    fs::remove_all(root, ignored);
    FakePortFixture::TearDown();
  }

  std::string Path() const { return (root / "quenzhal" / "registry.reg").string(); }
  // A scratch store of this row: its folder private, as the store makes it.
  void Reset() {
    std::error_code ignored;
    fs::permissions(root / "quenzhal", fs::perms::owner_all, ignored);
    fs::remove_all(root, ignored);
    fs::create_directories(root / "quenzhal");
    fs::permissions(root / "quenzhal", fs::perms::owner_all);
    store.emplace(Path());
    com->SetRegistry(&*store);
    com->SetErrorNoise(2);
    com->SetBaudRate(9600);
    reports.clear();
    guarded.clear();
    released.clear();
  }
  // The file must keep every byte it has now.
  void Guard(const std::string& path) { guarded[path] = FileBytes(path); }

  std::string LastMessage() const { return reports.empty() ? "<none>" : reports.back().msg; }
  std::uint32_t LastPlace() const { return reports.empty() ? 0 : reports.back().place; }

  TDaDudaroDevIza& Show(std::vector<std::string> ports_found) {
    dialog = std::make_unique<TDaDudaroDevIza>(*com, nullptr, &messages, std::move(ports_found));
    dialog->show();
    return *dialog;
  }

  fs::path root;
  std::optional<platform::FileRegistry> store;
  std::map<std::string, std::string> guarded;
  std::vector<int> released;  // descriptors the row holds (a lock), closed by the watchdog
  platform::RecordingMessages messages;
  std::unique_ptr<TDaDudaroDevIza> dialog;
};

struct Row {
  const char* input;  // as the table of stored-settings faults names it
  std::function<void()> plant;
  std::function<void()> act;
  std::function<void()> check;
  std::function<void()> unblock = nullptr;
};

const std::string kSerial = Section(kKey, {{"ComPort", "/dev/ttyUSB3"}, {"BaudRate", "19200"}});

}  // namespace

TEST_F(HostileStore, EveryInputEndsWithAReportOrTheDataAndTouchesNoOtherFile) {
  const std::vector<Row> rows = {
      {"registry.reg a symlink to /dev/zero", [this] { fs::create_symlink("/dev/zero", Path()); },
       [this] { com->ReadSettings(kRegkey, kSubKey); },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1212u);
         EXPECT_NE(LastMessage().find("keine gewöhnliche Datei"), std::string::npos)
             << LastMessage();
         EXPECT_EQ(fs::read_symlink(Path()), "/dev/zero");
       }},
      {"registry.reg a FIFO", [this] { mkfifo(Path().c_str(), 0600); },
       [this] { com->ReadSettings(kRegkey, kSubKey); },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1212u);
         EXPECT_NE(LastMessage().find(Path()), std::string::npos) << LastMessage();
       },
       [this] {
         // A writer that opens and closes lets a reader waiting in the opening go on.
         if (const int fd = open(Path().c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) close(fd);
       }},
      {"another process holds registry.reg.lock",
       [this] {
         PutFile(Path(), kSerial);
         Guard(Path());
         const int fd = open((Path() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
         ASSERT_EQ(flock(fd, LOCK_EX), 0);  // an open file of its own: as another program's
         released.push_back(fd);
       },
       [this] {
         com->SetBaudRate(38400);
         com->WriteSettings(kRegkey, kSubKey);
       },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1202u);
         EXPECT_NE(LastMessage().find("anderes Programm"), std::string::npos) << LastMessage();
         for (int fd : released) close(fd);
       },
       [this] {
         for (int fd : released) flock(fd, LOCK_UN);
       }},
      {"a symlink planted at registry.reg.tmp.<pid>",
       [this] {
         const std::string victim = (root / "victim").string();
         PutFile(victim, "precious\n");
         Guard(victim);
         fs::create_symlink(victim, Path() + ".tmp." + std::to_string(getpid()));
       },
       [this] { com->WriteSettings(kRegkey, kSubKey); },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1201u);
         EXPECT_EQ(Stored(platform::FileRegistry(Path()), kKey, "BaudRate"), "9600");
       }},
      {"no HOME: the fallback /tmp/quenzhal", [] {},
       [this] {
         std::map<std::string, std::optional<std::string>> saved;
         for (const char* name : {"QUENZHAL_REGISTRY_FILE", "XDG_CONFIG_HOME", "HOME"}) {
           const char* value = std::getenv(name);
           saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
           unsetenv(name);
         }
         const std::string path = platform::DefaultUserRegistryPath();
         for (const auto& [name, value] : saved)
           if (value) setenv(name.c_str(), value->c_str(), 1);
         const passwd* account = getpwuid(getuid());
         ASSERT_NE(account, nullptr);
         EXPECT_EQ(path, std::string(account->pw_dir) + "/.config/quenzhal/registry.reg");
         // A folder that others may write (or that another user owns) is refused, and
         // what was planted there is not taken.
         PutFile(Path(), Section(kKey, {{"BaudRate", "110"}}));
         Guard(Path());
         fs::permissions(root / "quenzhal", fs::perms::all);
         com->ReadSettings(kRegkey, kSubKey);
         EXPECT_EQ(LastPlace(), 0x1212u);
         com->WriteSettings(kRegkey, kSubKey);
         EXPECT_EQ(LastPlace(), 0x1202u);
         EXPECT_NE(LastMessage().find("alle schreiben"), std::string::npos) << LastMessage();
         if (getuid() == 0) {
           fs::permissions(root / "quenzhal", fs::perms::owner_all);
           ASSERT_EQ(chown((root / "quenzhal").c_str(), 65534, 65534), 0);
           com->ReadSettings(kRegkey, kSubKey);
           EXPECT_EQ(LastPlace(), 0x1212u);
           EXPECT_NE(LastMessage().find("anderen Benutzer"), std::string::npos) << LastMessage();
           ASSERT_EQ(chown((root / "quenzhal").c_str(), 0, 0), 0);
         }
       },
       [this] { EXPECT_EQ(com->BaudRate(), 9600u); }},
      {"registry.reg is a symlink (dotfile managers)",
       [this] {
         const std::string target = (root / "dotfiles" / "quenzhal.reg").string();
         PutFile(target, kSerial);
         fs::create_symlink(target, Path());
       },
       [this] {
         com->SetBaudRate(38400);
         com->WriteSettings(kRegkey, kSubKey);
       },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1201u);
         ASSERT_TRUE(fs::is_symlink(Path())) << "the link stays a link";
         const platform::FileRegistry target((root / "dotfiles" / "quenzhal.reg").string());
         EXPECT_EQ(Stored(target, kKey, "BaudRate"), "38400") << "written through to the target";
       }},
      {"a read-only registry.reg (0444)",
       [this] {
         PutFile(Path(), kSerial);
         fs::permissions(Path(),
                         fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         Guard(Path());
       },
       [this] {
         com->SetBaudRate(38400);
         com->WriteSettings(kRegkey, kSubKey);
       },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1202u);
         EXPECT_NE(LastMessage().find("schreibgeschützt"), std::string::npos) << LastMessage();
         EXPECT_EQ(fs::status(Path()).permissions() & fs::perms::all,
                   fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
       }},
      {"one bad line anywhere",
       [this] {
         PutFile(Path(), kSerial +
                             "[Software\\Quenzhal\\DoVuverUveDefaultSettings]\n"
                             "\"TeleNummer\"=sz:\"unterminated\n");
         Guard(Path());
       },
       [this] {
         com->ReadSettings(kRegkey, kSubKey);
         EXPECT_EQ(LastPlace(), 0x1211u) << LastMessage();
         com->WriteSettings(kRegkey, kSubKey);
       },
       [this] {
         EXPECT_EQ(com->BaudRate(), 19200u) << "the section that parses stays readable";
         EXPECT_EQ(LastPlace(), 0x1202u);
         EXPECT_NE(LastMessage().find(Path() + ", Zeile 5"), std::string::npos) << LastMessage();
       }},
      {"WriteSettings with a key name holding a newline",
       [this] {
         PutFile(Path(), kSerial);
         Guard(Path());
       },
       [this] { com->WriteSettings(kRegkey, "DaVevureRez\nDefaultSettings"); },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1202u);
         EXPECT_NE(LastMessage().find("Zeilenumbruch"), std::string::npos) << LastMessage();
         com->ReadSettings(kRegkey, kSubKey);
         EXPECT_EQ(LastPlace(), 0x1211u) << "the store stays readable";
       }},
      {"two programs saving at once", [this] { PutFile(Path(), kSerial); },
       [this] {
         // Each replacement of the file is a moment in which a reader can see a mix.
         FileEvents replaced(Path(), IN_MOVED_TO | IN_CLOSE_WRITE);
         com->SetBaudRate(38400);
         com->SetComPort("/dev/ttyACM0");
         com->WriteSettings(kRegkey, kSubKey);
         EXPECT_EQ(replaced.Count(), 1) << "one save, one replacement";
       },
       [this] { EXPECT_EQ(LastPlace(), 0x1201u); }},
      {"a 1 MB file",
       [this] {
         std::string text;
         for (int key = 0; text.size() < 1000000; ++key)
           text += Section(("Software\\Other\\K" + std::to_string(key)).c_str(),
                           {{"Name", "a value of some length"}, {"Other", "0123456789"}});
         text += kSerial;
         PutFile(Path(), text);
       },
       [this] {
         const std::string before = FileBytes(Path());
         FileEvents opened(Path(), IN_OPEN);
         com->ReadSettings(kRegkey, kSubKey);
         EXPECT_EQ(opened.Count(), 1) << "ReadSettings reads the file once";
         EXPECT_EQ(com->BaudRate(), 19200u);
         com->SetBaudRate(38400);
         com->WriteSettings(kRegkey, kSubKey);
         EXPECT_EQ(opened.Count(), 2) << "WriteSettings reads it once";
         // Every other byte stays: only the changed value's line differs, and the values
         // the file lacked are added after the section's last one.
         const std::string after = FileBytes(Path());
         const std::size_t at = before.find("\"BaudRate\"=sz:\"19200\"\n");
         ASSERT_NE(at, std::string::npos);
         std::string expected = before;
         expected.replace(at + 15, 5, "38400");
         EXPECT_EQ(after.substr(0, expected.size()), expected);
       },
       [this] { EXPECT_EQ(LastPlace(), 0x1201u); }},
      {"a killed save",
       [this] {
         PutFile(Path(), kSerial);
         // A process number above the system's highest belongs to no running process.
         std::ifstream max("/proc/sys/kernel/pid_max");
         long pid_max = 0;
         max >> pid_max;
         PutFile(Path() + ".tmp." + std::to_string(pid_max + 1), "half a sav");
       },
       [this] { com->WriteSettings(kRegkey, kSubKey); },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1201u);
         for (const auto& entry : fs::directory_iterator(root / "quenzhal"))
           EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
               << entry.path();
       }},
      {"\"$4B00\", \"+5\", \"3000000000\" as a number",
       [this] {
         PutFile(Path(), Section(kKey, {{"BaudRate", "$4B00"}, {"StopBits", "+5"}}) +
                             Section(kProtocolKey, {{"WaitForAnswer3964R", "3000000000"}}));
       },
       [this] {
         com->ReadSettings(kRegkey, kSubKey);
         TRiVadaroverEza protocol(&owner, loop);
         protocol.SetRegistry(&*store);
         protocol.SetWaitForAnswer3964R(2000);
         protocol.ReadSettings(kRegkey, "RiVadaroverEzaDefaultSettings");
         EXPECT_EQ(protocol.WaitForAnswer3964R(), 1000) << "not a number: the default";
       },
       [this] {
         EXPECT_EQ(LastPlace(), 0x1211u);
         EXPECT_EQ(com->BaudRate(), 9600u);
         EXPECT_EQ(com->StopBits(), 0);
       }},
      {"\"$10\" typed into a dialog's number field", [this] { com->SetXTOAuto(false); },
       [this] {
         TDaDudaroDevIza& d = Show({"/dev/ttyS0"});
         d.WTOCharDelayEdit->setText("$10");
         QTest::mouseClick(d.OKBtn, Qt::LeftButton);
       },
       [this] {
         ASSERT_EQ(messages.shown.size(), 1u);
         EXPECT_EQ(messages.shown[0].text, "'$10' ist kein gültiger Integerwert");
         EXPECT_TRUE(dialog->isVisible());
         EXPECT_EQ(com->WTOCharDelayTime(), 1100u);
       }},
      {"the serial dialog on a fresh component",
       [this] {
         com = std::make_unique<TDaVevureRez>(&owner, loop, ports);
         com->SetRegistry(&*store);
       },
       [this] {
         TDaDudaroDevIza& d = Show({"/dev/ttyS0", "/dev/ttyUSB0"});
         EXPECT_EQ(d.CBPort->currentText().toStdString(), "COM2");
         QTest::mouseClick(d.OKBtn, Qt::LeftButton);
       },
       [this] { EXPECT_EQ(com->ComPort(), "COM2") << "OK stores no empty name"; }},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    Reset();
    messages.shown.clear();
    row.plant();
    const auto start = std::chrono::steady_clock::now();
    bool stepped_in = false;
    {
      Watchdog watchdog(row.unblock);
      try {
        row.act();
      } catch (const std::exception& e) {
        ADD_FAILURE() << "exception: " << e.what();
      }
      stepped_in = watchdog.Stop();
    }
    EXPECT_FALSE(stepped_in) << "waited "
                             << std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count()
                             << " ms: it would have waited for ever";
    row.check();
    for (const auto& [path, bytes] : guarded) EXPECT_EQ(FileBytes(path), bytes) << path;
    dialog.reset();
  }
}
