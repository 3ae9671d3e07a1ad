#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/MachineRegistry.h"
#include "platform/PortDescription.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

// A fake sysfs tty class and /dev folder in a temporary directory.
class FakeMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("machine-view-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys");
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "ports");
    sources_ = {(root_ / "sys").string(), (root_ / "dev").string(), (root_ / "ports").string()};
  }
  void TearDown() override { fs::remove_all(root_); }

  // A tty in sysfs; `type` < 0 writes no type file; `device` adds the device link; the
  // device node is a character device only when `node` (a FIFO otherwise, which is no tty).
  void AddTty(const std::string& name, int type, bool device, bool node = true) {
    const fs::path dir = root_ / "sys" / name;
    fs::create_directories(dir);
    if (type >= 0) std::ofstream(dir / "type") << type << "\n";
    if (device) fs::create_directory_symlink(root_, dir / "device");
    const fs::path dev = root_ / "dev" / name;
    if (node)
      fs::create_symlink("/dev/null", dev);  // a character device that exists
    else
      mkfifo(dev.c_str(), 0600);
  }

  fs::path root_;
  MachinePortSources sources_;
};

}  // namespace

TEST_F(FakeMachine, UartsWithRealTypeOthersWithDeviceInNaturalOrder) {
  AddTty("ttyS10", 4, true);
  AddTty("ttyS2", 4, true);
  AddTty("ttyS3", 0, true);  // placeholder UART without hardware
  AddTty("ttyUSB0", -1, true);
  AddTty("ttyACM1", -1, true);
  AddTty("tty5", -1, false);           // a virtual console: no device behind it
  AddTty("ttyUSB1", -1, true, false);  // no character device node

  auto view = ScanMachineRegistry(sources_);
  std::vector<std::string> names;
  ASSERT_EQ(view->SubKeyNames(kUartKey, names), RegStatus::Ok);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyS2", "ttyS10"}));
  RegValue value;
  ASSERT_EQ(view->ReadValue(std::string(kUartKey) + "\\ttyS10", "PortName", value), RegStatus::Ok);
  EXPECT_EQ(value.data, (root_ / "dev" / "ttyS10").string());

  ASSERT_EQ(view->ValueNames(kSerialCommKey, names), RegStatus::Ok);
  EXPECT_EQ(names, (std::vector<std::string>{"\\Device\\ttyACM1", "\\Device\\ttyUSB0"}));
}

TEST_F(FakeMachine, NoPortsMeansNoKeys) {
  AddTty("tty1", -1, false);
  auto view = ScanMachineRegistry(sources_);
  EXPECT_EQ(view->KeyExists(kUartKey), RegStatus::NotFound);
  EXPECT_EQ(view->KeyExists(kSerialCommKey), RegStatus::NotFound);
}

TEST_F(FakeMachine, PortsDescribeWhatTheyAre) {
  // A USB adapter: the tty's device is the usb-serial port below the interface below the
  // USB device, which has the ids and texts.
  auto usb = [&](const std::string& tty, const std::map<std::string, std::string>& attributes) {
    AddTty(tty, -1, true);
    const fs::path device = root_ / "devices" / ("usb-" + tty);
    const fs::path port = device / "1-2:1.0" / tty;
    fs::create_directories(port);
    for (const auto& [name, value] : attributes) std::ofstream(device / name) << value << "\n";
    fs::remove(root_ / "sys" / tty / "device");
    fs::create_directory_symlink(port, root_ / "sys" / tty / "device");
  };
  usb("ttyUSB0", {{"idVendor", "0403"},
                  {"idProduct", "6001"},
                  {"manufacturer", "FTDI"},
                  {"product", "FT232R USB UART"},
                  {"serial", "A50285BI"}});
  usb("ttyUSB1", {{"idVendor", "10c4"},
                  {"idProduct", "ea60"},
                  {"manufacturer", "Silicon Labs"},
                  {"product", "Silicon Labs CP210x UART Bridge"}});
  usb("ttyACM0", {{"idVendor", "2341"}, {"idProduct", "0043"}});
  AddTty("ttyS2", 4, true);
  AddTty("tty5", -1, false);
  const fs::path by_id = root_ / "dev" / "serial" / "by-id";
  fs::create_directories(by_id);
  const fs::path stable = by_id / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  fs::create_symlink("../../ttyUSB0", stable);
  fs::create_directories(root_ / "dev" / "pts");
  fs::create_symlink("/dev/null", root_ / "dev" / "pts" / "7");
  fs::create_symlink(root_ / "dev" / "pts" / "7", root_ / "ports" / "MirbaZento-Simulator");

  const std::string dev = (root_ / "dev").string();
  const std::pair<std::string, std::string> rows[] = {
      {dev + "/ttyUSB0",
       "FTDI FT232R USB UART, Seriennummer A50285BI, USB 0403:6001, " + stable.string()},
      {stable.string(),
       "FTDI FT232R USB UART, Seriennummer A50285BI, USB 0403:6001, " + dev + "/ttyUSB0"},
      {dev + "/ttyUSB1", "Silicon Labs CP210x UART Bridge, USB 10c4:ea60"},
      {dev + "/ttyACM0", "USB-Gerät, USB 2341:0043"},
      {dev + "/ttyS2", "serielle Schnittstelle der Hauptplatine"},
      {(root_ / "ports" / "MirbaZento-Simulator").string(), "Pseudo-Terminal, " + dev + "/pts/7"},
      {dev + "/tty5", ""},
      {dev + "/ttyUSB9", ""},
  };
  for (const auto& [path, text] : rows) EXPECT_EQ(DescribePort(path, sources_), text) << path;
}

TEST(MachineView, ThisMachineListsOnlyPortsThatOpenAsTerminals) {
  auto view = ScanMachineRegistry();
  std::vector<std::string> paths;
  std::vector<std::string> names;
  if (view->SubKeyNames(kUartKey, names) == RegStatus::Ok)
    for (const auto& sub : names) {
      RegValue v;
      ASSERT_EQ(view->ReadValue(std::string(kUartKey) + "\\" + sub, "PortName", v), RegStatus::Ok);
      paths.push_back(v.data);
    }
  if (view->ValueNames(kSerialCommKey, names) == RegStatus::Ok)
    for (const auto& name : names) {
      RegValue v;
      ASSERT_EQ(view->ReadValue(kSerialCommKey, name, v), RegStatus::Ok);
      paths.push_back(v.data);
    }
  if (paths.empty()) GTEST_SKIP() << "this machine has no serial port";
  for (const auto& path : paths) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EBUSY)) continue;  // exists, just not ours now
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    EXPECT_TRUE(isatty(fd)) << path;
    close(fd);
  }
}
