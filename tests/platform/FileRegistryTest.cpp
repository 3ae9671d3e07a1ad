#include <gtest/gtest.h>

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
    ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\All", AllBytes(), RegValue::Text(AllBytes())),
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
  ASSERT_EQ(again.ReadValue("software\\quenzhal\\all", AllBytes(), value), RegStatus::Ok);
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
  for (const char* damaged :
       {"[Software\\Quenzhal\n", "\"a\"=sz:\"unterminated\n", "\"a\"=dword:0g\n",
        "\"a\"=weird:\"x\"\n", "garbage\n", "\"a\"=sz:\"bad \\q escape\"\n"}) {
    { std::ofstream(path_, std::ios::binary) << damaged; }
    FileRegistry reg(path_);
    RegValue value;
    EXPECT_EQ(reg.ReadValue("Software", "a", value), RegStatus::Failed) << damaged;
    EXPECT_EQ(reg.WriteValue("Software", "a", RegValue::Text("x")), RegStatus::Failed) << damaged;
    EXPECT_EQ(FileText(), damaged) << "a damaged file is left as it is";
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
