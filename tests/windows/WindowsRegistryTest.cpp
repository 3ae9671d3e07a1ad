// The registry seam on the Windows registry (Wine's, under Wine): the components' settings
// as REG_SZ strings below HKEY_CURRENT_USER\Software\Quenzhal, and port discovery from the
// two keys of HKEY_LOCAL_MACHINE. Every test works in keys of its own and removes them.
// The seam's names first: <windows.h> defines some of them as macros of equal value.
// clang-format off
#include "tests/serial/FakePortFixture.h"
#include "platform/WindowsRegistry.h"
#include "util/ComPortList.h"
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kRegkey = "Software\\Quenzhal";

// A subkey of HKCU\Software\Quenzhal of this test only.
std::string OwnSubKey() {
  return "WindowsRegistryTest-" + std::to_string(GetCurrentProcessId()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// The raw value as the registry holds it: its type and its text.
struct Raw {
  DWORD type = REG_NONE;
  std::wstring text;
};
Raw ReadRaw(HKEY root, const std::string& key, const std::wstring& name) {
  Raw raw;
  wchar_t data[512] = {};
  DWORD size = sizeof data;
  const std::wstring wkey(key.begin(), key.end());
  if (RegGetValueW(root, wkey.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &raw.type, data,
                   &size) == ERROR_SUCCESS)
    raw.text.assign(data, size / sizeof(wchar_t) - (size >= sizeof(wchar_t) ? 1 : 0));
  return raw;
}

class WindowsRegistry : public serial_test::FakePortFixture {
 protected:
  void TearDown() override {
    user.DeleteTree(kRegkey + "\\" + sub);
    FakePortFixture::TearDown();
  }
  platform::WindowsRegistry user{platform::RegistryRoot::CurrentUser};
  const std::string sub = OwnSubKey();
};

TEST_F(WindowsRegistry, SettingsAreStringsBelowTheCurrentUsersQuenzhalKey) {
  com->SetBaudRate(19200);
  com->SetXONChar('\x11');
  com->SetEventChar('\xE4');  // a character of the upper half survives as itself
  com->SetFlowControl(-1);
  com->SetComPort("COM7");
  com->WriteSettings(kRegkey, sub);
  ASSERT_EQ(Reported(), (std::vector<std::uint32_t>{0x1201}));

  const std::string key = kRegkey + "\\" + sub;
  const Raw baud = ReadRaw(HKEY_CURRENT_USER, key, L"BaudRate");
  EXPECT_EQ(baud.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(baud.text, L"19200");
  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, key, L"XONChar").text, std::wstring(1, L'\x11'));
  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, key, L"EventChar").text, std::wstring(1, L'\xE4'));
  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, key, L"FlowControl").text, L"-1");
  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, key, L"ComPort").text, L"COM7");
  const Raw active = ReadRaw(HKEY_CURRENT_USER, key, L"Active");
  EXPECT_EQ(active.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(active.text, L"0");

  // A later run of the program reads them back.
  TObject other_owner;
  TDaVevureRez again(&other_owner, loop, ports);
  again.ReadSettings(kRegkey, sub);
  EXPECT_EQ(again.BaudRate(), 19200u);
  EXPECT_EQ(again.XONChar(), '\x11');
  EXPECT_EQ(again.EventChar(), '\xE4');
  EXPECT_EQ(again.FlowControl(), -1);
  EXPECT_EQ(again.ComPort(), "COM7");
}

// A value of another type than a string stops the reading there, as the wrapper's read of
// a non-text value fails.
TEST_F(WindowsRegistry, ValueOfAnotherTypeStopsTheReading) {
  com->SetBaudRate(4800);
  com->WriteSettings(kRegkey, sub);
  const std::string narrow = kRegkey + "\\" + sub;
  const std::wstring key(narrow.begin(), narrow.end());
  const DWORD bits = 7;
  ASSERT_EQ(
      RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"DataBits", REG_DWORD, &bits, sizeof bits),
      ERROR_SUCCESS);
  TObject other_owner;
  TDaVevureRez again(&other_owner, loop, ports);
  std::vector<std::uint32_t> places;
  again.OnProcessError = [&](TObject*, std::uint32_t place, std::uint32_t, const ByteString&,
                             std::uint8_t) { places.push_back(place); };
  again.SetXONChar('\x01');
  again.ReadSettings(kRegkey, sub);
  EXPECT_EQ(places, (std::vector<std::uint32_t>{0x1212}));
  EXPECT_EQ(again.BaudRate(), 4800u) << "the values before it are applied";
  EXPECT_EQ(again.XONChar(), '\x01') << "the values after it keep theirs";
}

// Port discovery reads HKLM\Enum\BIOS\*PNP0501\<device>\PortName first, then the serial
// map; only strings count, and a name found again in another case is listed once.
TEST(WindowsPortDiscovery, ReadsTheTwoMachineKeysInOrder) {
  platform::WindowsRegistry machine(platform::RegistryRoot::LocalMachine);
  const std::string tag = std::to_string(GetCurrentProcessId());
  const std::string uart = std::string("Enum\\BIOS\\*PNP0501\\QuenzhalTest") + tag;
  const std::string map = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  const std::string port = "COMQ" + tag;
  ASSERT_EQ(machine.WriteValue(uart, "PortName", platform::RegValue::Text(port)),
            platform::RegStatus::Ok)
      << "Wine's HKEY_LOCAL_MACHINE is writable for the test";
  machine.WriteValue(map, "\\Device\\QuenzhalA" + tag, platform::RegValue::Text("comq" + tag));
  machine.WriteValue(map, "\\Device\\QuenzhalB" + tag, platform::RegValue::Text(port + "X"));
  platform::RegValue number;
  number.type = platform::RegType::Dword;
  number.data = std::string("\x05\x00\x00\x00", 4);
  machine.WriteValue(map, "\\Device\\QuenzhalC" + tag, number);

  const std::vector<std::string> ports = GetComPortList();
  machine.DeleteTree(uart);
  for (const char* n : {"A", "B", "C"})
    machine.DeleteValue(map, std::string("\\Device\\Quenzhal") + n + tag);

  std::vector<std::string> ours;
  for (const std::string& p : ports)
    if (p.size() >= port.size() && _stricmp(p.substr(0, port.size()).c_str(), port.c_str()) == 0)
      ours.push_back(p);
  EXPECT_EQ(ours, (std::vector<std::string>{port, port + "X"}));
}

}  // namespace
