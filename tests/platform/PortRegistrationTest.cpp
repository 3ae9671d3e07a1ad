#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/MachineRegistry.h"
#include "platform/PortRegistration.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

class Registrations : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() / ("ports-" + std::to_string(getpid()))).string();
    fs::remove_all(dir_);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    pts_ = ptsname(master_);
  }
  void TearDown() override {
    close(master_);
    fs::remove_all(dir_);
  }
  std::string dir_;
  int master_ = -1;
  std::string pts_;
};

}  // namespace

TEST_F(Registrations, LiveRegistrationIsListedAndOpensTheDevice) {
  std::string error;
  auto reg = PortRegistration::Create("MirbaZento-Simulator", pts_, error, dir_);
  ASSERT_TRUE(reg) << error;
  EXPECT_EQ(reg->Path(), dir_ + "/MirbaZento-Simulator");

  const auto ports = ListRegisteredPorts(dir_);
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].path, reg->Path());
  const int fd = open(ports[0].path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(isatty(fd));
  close(fd);

  // The machine view lists it in the serial map under its own name.
  auto view = ScanMachineRegistry({"/nonexistent", "/nonexistent", dir_});
  RegValue value;
  ASSERT_EQ(view->ReadValue(kSerialCommKey, "\\Device\\MirbaZento-Simulator", value),
            RegStatus::Ok);
  EXPECT_EQ(value.data, reg->Path());

  reg.reset();
  EXPECT_TRUE(ListRegisteredPorts(dir_).empty()) << "unregistered on destruction";
  EXPECT_FALSE(fs::exists(dir_ + "/MirbaZento-Simulator"));
}

TEST_F(Registrations, NameTakenByLiveProcessIsRefusedDeadOnesAreIgnoredAndReplaced) {
  std::string error;
  auto first = PortRegistration::Create("SIM", pts_, error, dir_);
  ASSERT_TRUE(first);
  EXPECT_FALSE(PortRegistration::Create("SIM", pts_, error, dir_));
  EXPECT_NE(error.find("another process"), std::string::npos) << error;
  first.reset();

  // A process that registers and dies without cleaning up leaves its link behind.
  const pid_t child = fork();
  if (child == 0) {
    std::string child_error;
    auto leaked = PortRegistration::Create("SIM", pts_, child_error, dir_);
    _exit(leaked ? 0 : 1);  // no destructor runs
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::is_symlink(dir_ + "/SIM"));
  EXPECT_TRUE(ListRegisteredPorts(dir_).empty()) << "a dead registration is not listed";

  auto again = PortRegistration::Create("SIM", pts_, error, dir_);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(ListRegisteredPorts(dir_).size(), 1u);
}

TEST_F(Registrations, BadNamesAndPathsAreRefused) {
  std::string error;
  EXPECT_FALSE(PortRegistration::Create("../evil", pts_, error, dir_));
  EXPECT_FALSE(PortRegistration::Create(".hidden", pts_, error, dir_));
  EXPECT_FALSE(PortRegistration::Create("", pts_, error, dir_));
  EXPECT_FALSE(PortRegistration::Create("SIM", "relative/path", error, dir_));
  EXPECT_FALSE(PortRegistration::Create("SIM", pts_, error, "/proc/no-such-place"));
  EXPECT_FALSE(error.empty());
}

TEST(RegisteredPortsDir, EnvironmentChoosesTheFolder) {
  const char* old_ports = getenv("QUENZHAL_PORTS_DIR");
  const char* old_runtime = getenv("XDG_RUNTIME_DIR");
  const std::string saved_ports = old_ports ? old_ports : "";
  const std::string saved_runtime = old_runtime ? old_runtime : "";
  setenv("QUENZHAL_PORTS_DIR", "/tmp/x-ports", 1);
  EXPECT_EQ(RegisteredPortsDir(), "/tmp/x-ports");
  unsetenv("QUENZHAL_PORTS_DIR");
  setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
  EXPECT_EQ(RegisteredPortsDir(), "/run/user/1000/quenzhal-ports");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(RegisteredPortsDir(), "/tmp/quenzhal-ports-" + std::to_string(getuid()));
  if (old_ports) setenv("QUENZHAL_PORTS_DIR", saved_ports.c_str(), 1);
  if (old_runtime) setenv("XDG_RUNTIME_DIR", saved_runtime.c_str(), 1);
}
