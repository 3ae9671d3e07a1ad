#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/FileRegistry.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

class FileRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("file-registry-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    path_ = (dir_ / "config" / "registry.reg").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string FileText() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string path_;
};

std::string AllBytes() {
  std::string s;
  for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

// Every byte a name may hold: CR and LF cannot be stored in one.
std::string NameBytes() {
  std::string s = AllBytes();
  std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
  return s;
}

}  // namespace

TEST_F(FileRegistryTest, MissingFileIsAnEmptyStore) {
  FileRegistry reg(path_);
  RegValue value;
  EXPECT_EQ(reg.ReadValue("Software\\Quenzhal\\X", "ComPort", value), RegStatus::NotFound);
  EXPECT_EQ(reg.KeyExists("Software"), RegStatus::NotFound);
  EXPECT_FALSE(fs::exists(path_)) << "reading creates nothing";
}

TEST_F(FileRegistryTest, EveryTypeAndByteValueSurvivesAFreshInstance) {
  {
    FileRegistry reg(path_);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\DaVevureRezDefaultSettings", "ComPort",
                             RegValue::Text("/dev/ttyUSB0")),
              RegStatus::Ok);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\DaVevureRezDefaultSettings", "XONChar",
                             RegValue::Text(std::string(1, '\x0b'))),
              RegStatus::Ok);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\All", NameBytes(), RegValue::Text(AllBytes())),
              RegStatus::Ok);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\All", "dw",
                             RegValue{RegType::Dword, std::string("\x08\0\0\0", 4)}),
              RegStatus::Ok);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\All", "bin", RegValue{RegType::Binary, ""}),
              RegStatus::Ok);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\All", "exp",
                             RegValue{RegType::ExpandString, "%HOME%\\x"}),
              RegStatus::Ok);
    ASSERT_EQ(reg.CreateKey("Software\\Quenzhal\\Empty"), RegStatus::Ok);
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\All", "gone", RegValue::Text("x")),
              RegStatus::Ok);
    ASSERT_EQ(reg.DeleteValue("Software\\Quenzhal\\All", "gone"), RegStatus::Ok);
  }
  FileRegistry again(path_);
  RegValue value;
  ASSERT_EQ(again.ReadValue("software\\quenzhal\\all", NameBytes(), value), RegStatus::Ok);
  EXPECT_EQ(value, RegValue::Text(AllBytes()));
  ASSERT_EQ(again.ReadValue("Software\\Quenzhal\\DaVevureRezDefaultSettings", "XONChar", value),
            RegStatus::Ok);
  EXPECT_EQ(value.data, "\x0b");
  ASSERT_EQ(again.ReadValue("Software\\Quenzhal\\All", "dw", value), RegStatus::Ok);
  EXPECT_EQ(value, (RegValue{RegType::Dword, std::string("\x08\0\0\0", 4)}));
  ASSERT_EQ(again.ReadValue("Software\\Quenzhal\\All", "bin", value), RegStatus::Ok);
  EXPECT_EQ(value, (RegValue{RegType::Binary, ""}));
  ASSERT_EQ(again.ReadValue("Software\\Quenzhal\\All", "exp", value), RegStatus::Ok);
  EXPECT_EQ(value.type, RegType::ExpandString);
  EXPECT_EQ(again.ReadValue("Software\\Quenzhal\\All", "gone", value), RegStatus::NotFound);
  EXPECT_EQ(again.KeyExists("Software\\Quenzhal\\Empty"), RegStatus::Ok);
  std::vector<std::string> subkeys;
  ASSERT_EQ(again.SubKeyNames("Software\\Quenzhal", subkeys), RegStatus::Ok);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"DaVevureRezDefaultSettings", "All", "Empty"}));

  // Readable for people: plain values stay plain.
  EXPECT_NE(FileText().find("\"ComPort\"=sz:\"/dev/ttyUSB0\""), std::string::npos) << FileText();
  EXPECT_FALSE(fs::exists(path_ + ".tmp." + std::to_string(getpid()))) << "no temporary left";
}

TEST_F(FileRegistryTest, DamagedOrUnreadableFileFailsAndIsNeverOverwritten) {
  fs::create_directories(fs::path(path_).parent_path());
  // Damage inside [Software] makes that key unreadable; a line that may have been a key line
  // also every key the file lacks. [Other] stays readable, nothing may be written, and the
  // reason names the file and the line.
  const std::string intact = "; kept\n[Other]\n\"v\"=sz:\"kept\"\n[Software]\n";
  for (const char* damaged :
       {"[Software\\Quenzhal\n", "\"a\"=sz:\"unterminated\n", "\"a\"=dword:0g\n",
        "\"a\"=weird:\"x\"\n", "garbage\n", "\"a\"=sz:\"bad \\q escape\"\n"}) {
    const std::string text = intact + damaged + "\"b\"=sz:\"after\"\n";
    { std::ofstream(path_, std::ios::binary) << text; }
    FileRegistry reg(path_);
    RegValue value;
    const bool key_line = damaged[0] != '"';
    // A damaged key line is no damage of the (empty) key before it.
    EXPECT_EQ(reg.ReadValue("Software", "a", value),
              damaged[0] == '[' ? RegStatus::NotFound : RegStatus::Failed)
        << damaged;
    ASSERT_EQ(reg.ReadValue("Other", "v", value), RegStatus::Ok) << damaged;
    EXPECT_EQ(value.data, "kept");
    EXPECT_EQ(reg.ReadValue("Missing", "a", value),
              key_line ? RegStatus::Failed : RegStatus::NotFound)
        << damaged;
    if (key_line) {
      EXPECT_NE(reg.FailureText().find(path_ + ", Zeile 5"), std::string::npos)
          << reg.FailureText();
    }
    EXPECT_EQ(reg.WriteValue("Other", "a", RegValue::Text("x")), RegStatus::Failed) << damaged;
    EXPECT_NE(reg.FailureText().find("Zeile 5"), std::string::npos);
    EXPECT_EQ(FileText(), text) << "a damaged file is left as it is";
  }
  fs::remove(path_);
  fs::create_directory(path_);  // a folder where the file should be cannot be read
  FileRegistry reg(path_);
  std::vector<std::string> names;
  EXPECT_EQ(reg.ValueNames("Software", names), RegStatus::Failed);
  EXPECT_EQ(reg.WriteValue("Software", "a", RegValue::Text("x")), RegStatus::Failed);
}

TEST_F(FileRegistryTest, ConcurrentWritersKeepEachOthersValues) {
  constexpr int kWriters = 4;
  constexpr int kValues = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = fork();
    if (child == 0) {
      FileRegistry reg(path_);
      // This is about lost values, not the bound: a saver polling the lock can lose many
      // rounds in a row to the others, longer than 2 s on a slow (sanitized) build.
      reg.SetLockWait(std::chrono::seconds(60));
      bool ok = true;
      for (int v = 0; v < kValues; ++v)
        ok = ok && reg.WriteValue(
                       "K", std::string("w").append(std::to_string(w)) + "v" + std::to_string(v),
                       RegValue::Text(std::to_string(v))) == RegStatus::Ok;
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> names;
  ASSERT_EQ(FileRegistry(path_).ValueNames("K", names), RegStatus::Ok);
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kWriters * kValues));
}

// A whole set is one replacement: a reader running beside two savers sees one saver's set
// or the other's, never a mix (once each value was a save of its own).
TEST_F(FileRegistryTest, ConcurrentSetsAreSeenWholeAndEachSetIsOneReplacement) {
  constexpr int kSaves = 40;
  auto set = [](char who) {
    RegValues values;
    for (int v = 0; v < 27; ++v)
      values.emplace_back(std::string("v").append(std::to_string(v)), RegValue::Text({who}));
    return values;
  };
  {
    FileRegistry first(path_);
    ASSERT_EQ(first.WriteValues("K", set('a')), RegStatus::Ok);
    EXPECT_EQ(first.Count().replaces, 1);
    EXPECT_LE(first.Count().fsyncs, 2);
    EXPECT_EQ(first.Count().reads, 1);
  }
  std::vector<pid_t> children;
  for (char who : {'a', 'b'}) {
    const pid_t child = fork();
    if (child == 0) {
      FileRegistry reg(path_);
      bool ok = true;
      for (int i = 0; i < kSaves; ++i) ok = ok && reg.WriteValues("K", set(who)) == RegStatus::Ok;
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  FileRegistry reader(path_);
  int mixed = 0;
  int reads = 0;
  for (bool running = true; running;) {
    RegValues values;
    ASSERT_EQ(reader.ReadValues("K", values), RegStatus::Ok) << reader.FailureText();
    ASSERT_EQ(values.size(), 27u);
    for (const auto& value : values) mixed += value.second.data != values[0].second.data;
    ++reads;
    running = false;
    for (pid_t child : children) running = running || waitpid(child, nullptr, WNOHANG) == 0;
  }
  EXPECT_EQ(mixed, 0) << "in " << reads << " reads";
  EXPECT_EQ(reader.Count().reads, reads) << "one read of the file each";
}

// Another program's lock is waited for within the bound, then the change fails with its
// reason and the file stays as it is.
TEST_F(FileRegistryTest, LockWaitIsBoundedAndSaysWhy) {
  FileRegistry reg(path_);
  ASSERT_EQ(reg.WriteValue("K", "v", RegValue::Text("old")), RegStatus::Ok);
  const std::string before = FileText();
  const int held = open((path_ + ".lock").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(FileRegistry::kDefaultLockWait, std::chrono::milliseconds(2000));
  reg.SetLockWait(std::chrono::milliseconds(50));
  EXPECT_EQ(reg.WriteValue("K", "v", RegValue::Text("new")), RegStatus::Failed);
  EXPECT_NE(reg.FailureText().find("ein anderes Programm speichert gerade " + path_),
            std::string::npos)
      << reg.FailureText();
  EXPECT_EQ(FileText(), before);
  RegValue value;
  EXPECT_EQ(reg.ReadValue("K", "v", value), RegStatus::Ok) << "reading needs no lock";
  close(held);
  EXPECT_EQ(reg.WriteValue("K", "v", RegValue::Text("new")), RegStatus::Ok);
}

// Names the file cannot hold are refused before anything is written.
TEST_F(FileRegistryTest, NamesThatCannotBeStoredAreRefused) {
  FileRegistry reg(path_);
  ASSERT_EQ(reg.WriteValue("K", "v", RegValue::Text("x")), RegStatus::Ok);
  const std::string before = FileText();
  for (const auto& [key, name] : std::vector<std::pair<std::string, std::string>>{
           {"K\nL", "v"}, {"K\rL", "v"}, {"K\\[L", "v"}, {"[K", "v"}, {"K", "a\nb"}, {"K", "a\r"}}) {
    EXPECT_EQ(reg.WriteValue(key, name, RegValue::Text("y")), RegStatus::Failed) << key << name;
    EXPECT_FALSE(reg.FailureText().empty());
  }
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(reg.WriteValue("K", "[v]", RegValue::Text("y")), RegStatus::Ok)
      << "a quoted value name may begin with a bracket";
}

TEST(FileRegistryPath, EnvironmentChoosesTheFile) {
  const char* saved = getenv("QUENZHAL_REGISTRY_FILE");
  const std::string saved_text = saved ? saved : "";
  setenv("QUENZHAL_REGISTRY_FILE", "/tmp/x.reg", 1);
  EXPECT_EQ(DefaultUserRegistryPath(), "/tmp/x.reg");
  unsetenv("QUENZHAL_REGISTRY_FILE");
  const char* config = getenv("XDG_CONFIG_HOME");
  const std::string config_text = config ? config : "";
  setenv("XDG_CONFIG_HOME", "/home/u/.cfg", 1);
  EXPECT_EQ(DefaultUserRegistryPath(), "/home/u/.cfg/quenzhal/registry.reg");
  if (config)
    setenv("XDG_CONFIG_HOME", config_text.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  if (saved) setenv("QUENZHAL_REGISTRY_FILE", saved_text.c_str(), 1);
}
