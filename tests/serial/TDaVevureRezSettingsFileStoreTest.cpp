// Settings persistence of the serial component in the file store, the Linux store of the
// per-user values: the stored text, and a store that is damaged or cannot be read.
#include <filesystem>

#include "tests/serial/SerialSettingsFixture.h"

namespace {
class SerialSettingsFileStore : public SerialSettings {};
}  // namespace

TEST_F(SerialSettingsFileStore, EveryValueSurvivesTheFileStoreAsText) {
  settings_test::ScratchStore scratch;
  platform::FileRegistry writer(scratch.Path());
  platform::FileRegistry reader(scratch.Path());  // as a later run of the program
  RoundTrip(writer, reader);

  // The texts as they stand in the store: decimal, flags, characters as one character.
  EXPECT_EQ(Stored(reader, kKey, "ComPort"), "/dev/serial/by-id/usb-Prüfgerät");
  EXPECT_EQ(Stored(reader, kKey, "BaudRate"), "4000000000");
  EXPECT_EQ(Stored(reader, kKey, "FlowControl"), "-5");
  EXPECT_EQ(Stored(reader, kKey, "ParityErrorReplacement"), "1");
  EXPECT_EQ(Stored(reader, kKey, "XTOAuto"), "0");
  EXPECT_EQ(Stored(reader, kKey, "XONChar"), std::string(1, '\0'));
  EXPECT_EQ(Stored(reader, kKey, "XOFFChar"), "\x0b");
  EXPECT_EQ(Stored(reader, kKey, "ParityErrorChar"), "ÿ");
  EXPECT_EQ(Stored(reader, kKey, "EventChar"), "ä");
  std::vector<std::string> names;
  reader.ValueNames(kKey, names);
  EXPECT_EQ(names, (std::vector<std::string>{"ComPort",
                                             "BaudRate",
                                             "ParityType",
                                             "ParityErrorChar",
                                             "ParityErrorReplacement",
                                             "StopBits",
                                             "DataBits",
                                             "XONChar",
                                             "XOFFChar",
                                             "XONLimDiv",
                                             "XOFFLimDiv",
                                             "FlowControl",
                                             "StripNullChars",
                                             "EventChar",
                                             "RTOCharDelayTime",
                                             "RTOExtraDelayTime",
                                             "ClusterSize",
                                             "RxQueueSize",
                                             "TxQueueSize",
                                             "WTOCharDelayTime",
                                             "WTOExtraDelayTime",
                                             "XTOAuto",
                                             "RTSState",
                                             "DTRState",
                                             "BREAKState",
                                             "ErrorNoise",
                                             "Active"}));
  // The file is readable text: the character 11 is escaped, 255 is UTF-8.
  EXPECT_NE(scratch.Text().find("\"XOFFChar\"=sz:\"\\x0b\""), std::string::npos);
  EXPECT_NE(scratch.Text().find("\"ParityErrorChar\"=sz:\"ÿ\""), std::string::npos);
}

TEST_F(SerialSettingsFileStore, DamagedOrUnreadableStoreGivesTheFailureReports) {
  settings_test::ScratchStore scratch;
  scratch.SetText("[Software\\Quenzhal\\DaVevureRezDefaultSettings]\n\"BaudRate\"=sz:\"19200\n");
  platform::FileRegistry store(scratch.Path());
  com->SetRegistry(&store);
  com->SetErrorNoise(0);
  com->ReadSettings(kRegkey, kSubKey);
  com->WriteSettings(kRegkey, kSubKey);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1212, 0x1202}));
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(com->ErrorNoise(), 0);
  EXPECT_NE(scratch.Text().find("19200"), std::string::npos) << "the damaged file is kept";

  // A folder where the file should be cannot be read.
  platform::FileRegistry folder(std::filesystem::path(scratch.Path()).parent_path().string());
  com->SetRegistry(&folder);
  reports.clear();
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1212}));
}

TEST_F(SerialSettingsFileStore, ValuesOfAnotherTypeInTheFileStoreAreNoText) {
  settings_test::ScratchStore scratch;
  scratch.SetText(
      "[Software\\Quenzhal\\DaVevureRezDefaultSettings]\n"
      "\"ComPort\"=sz:\"ttyACM0\"\n"
      "\"BaudRate\"=dword:00,c2,01,00\n");
  platform::FileRegistry store(scratch.Path());
  com->SetRegistry(&store);
  com->SetErrorNoise(0);
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(com->ComPort(), "ttyACM0");
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1212}));
}
