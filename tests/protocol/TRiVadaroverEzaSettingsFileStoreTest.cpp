// Settings persistence of the protocol component in the file store, the Linux store of the
// per-user values: the stored text, and a store that is damaged or cannot be read.
#include <filesystem>

#include "tests/protocol/ProtocolSettingsFixture.h"

namespace {
class ProtocolSettingsFileStore : public ProtocolSettings {};
}  // namespace

TEST_F(ProtocolSettingsFileStore, FiveValuesSurviveTheFileStoreInOrder) {
  settings_test::ScratchStore scratch;
  platform::FileRegistry writer(scratch.Path());
  platform::FileRegistry reader(scratch.Path());
  RoundTrip(writer, reader);
  std::vector<std::string> names;
  reader.ValueNames(kKey, names);
  EXPECT_EQ(names, (std::vector<std::string>{"Verbindungstyp", "Protokoll", "WaitForAnswer3964R",
                                             "BlockModeSendRequest3964RPlus", "Active"}));
  EXPECT_EQ(Stored(reader, kKey, "Protokoll"), "1");
  EXPECT_EQ(Stored(reader, kKey, "WaitForAnswer3964R"), "2500");
  EXPECT_EQ(Stored(reader, kKey, "BlockModeSendRequest3964RPlus"), "1");
  EXPECT_EQ(Stored(reader, kKey, "Active"), "1");
}

TEST_F(ProtocolSettingsFileStore, FailingOrDamagedStoreGivesTheFailureReports) {
  settings_test::FailingAfter failing(2);
  p.SetRegistry(&failing);
  p.WriteSettings(kRegkey, kSubKey);
  EXPECT_EQ(Events(), "abort 3012/0/0 Fehler beim Speichern der Einstellungen");
  EXPECT_EQ(Stored(failing.tree, kKey, "Protokoll"), "0");
  EXPECT_EQ(Stored(failing.tree, kKey, "WaitForAnswer3964R"), "<missing>");

  settings_test::ScratchStore scratch;
  scratch.SetText("[Software\\Quenzhal\n");
  platform::FileRegistry damaged(scratch.Path());
  p.SetRegistry(&damaged);
  p.SetProtokoll(TProtokoll::p3964R);
  p.ReadSettings(kRegkey, kSubKey);
  p.WriteSettings(kRegkey, kSubKey);
  // Both reports name the file and the damaged line.
  const std::string damage = scratch.Path() + ", Zeile 1, ist beschädigt";
  const std::string seen = Events();
  EXPECT_TRUE(seen.starts_with("abort 3022/0/0 Fehler beim Laden der Einstellungen: " + damage))
      << seen;
  EXPECT_NE(seen.find("; abort 3012/0/0 Fehler beim Speichern der Einstellungen: " + damage),
            std::string::npos)
      << seen;
  EXPECT_EQ(p.Protokoll(), TProtokoll::p3964R);
  EXPECT_EQ(scratch.Text(), "[Software\\Quenzhal\n");
}
