// What the run logic shows of Linux: the advice for the errno of an opening (lock files,
// the processes under /proc) and the texts of the file errors Linux gives (a link loop,
// memory that cannot be read, a file that only root may read).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "app/ErrorAdvice.h"
#include "tests/app/FormFixture.h"

using namespace form_test;
using platform::MessageKind;

namespace {
class FormOnLinux : public Form {};
}  // namespace

TEST_F(FormOnLinux, ErrorBoxesKeepTheirTextsAndAddOneLineOfAdvice) {
  // Lock files and processes of a scratch machine.
  const fs::path root = fs::temp_directory_path() / ("advice-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "lock");
  const std::string self = std::to_string(getpid());
  fs::create_directories(root / "proc" / self);
  std::ofstream(root / "proc" / self / "comm") << "minicom\n";
  std::ofstream(root / "lock" / "LCK..ttyUSB3")
      << std::string(10 - self.size(), ' ') << self << "\n";
  fs::create_directories(root / "proc" / "4242" / "fd");
  std::ofstream(root / "proc" / "4242" / "comm") << "ModemManager\n";
  fs::create_symlink("/dev/ttyACM97", root / "proc" / "4242" / "fd" / "12");
  const AdviceSources sources{[this] { return machine_ports; }, (root / "lock").string(),
                              (root / "proc").string()};
  form->BoxAdvice = [&] { return ErrorAdvice(*form, sources); };

  const std::string kEnded = "Es ist ein Fehler aufgetreten, das Flashen wird beendet !\r";
  const std::string kModemManager =
      "ModemManager prüft neu angeschlossene ttyACM-Geräte einige Sekunden lang: kurz warten "
      "oder ModemManager beenden (sudo systemctl stop ModemManager).";
  struct Row {
    std::string port;
    std::uint32_t error;  // of the opening; 0: the port opens
    std::string box;
  };
  const Row rows[] = {
      {"ttyUSB0", EACCES,
       kEnded + "Ort:1138, Code:000D, Art:00\rHinweis: Keine Berechtigung für /dev/ttyUSB0. Den "
                "Benutzer in die Gruppe \"dialout\" aufnehmen (sudo usermod -aG dialout $USER) "
                "und sich neu anmelden."},
      {"/dev/ttyUSB7", 0,
       kEnded + "Ort:1138, Code:0002, Art:00\rHinweis: Den Port /dev/ttyUSB7 gibt es nicht. "
                "Vorhandene Ports: /dev/ttyS0, /dev/ttyUSB0."},
      {"/dev/ttyUSB3", EBUSY,
       kEnded + "Ort:1138, Code:0010, Art:00\rHinweis: /dev/ttyUSB3 ist von \"minicom\" (PID " +
           self + ") belegt: das Programm beenden und erneut flashen."},
      {"/dev/ttyACM97", EBUSY,
       kEnded +
           "Ort:1138, Code:0010, Art:00\rHinweis: /dev/ttyACM97 ist von \"ModemManager\" "
           "(PID 4242) belegt. " +
           kModemManager},
      {"/dev/ttyACM98", EBUSY,
       kEnded +
           "Ort:1138, Code:0010, Art:00\rHinweis: /dev/ttyACM98 ist von einem anderen "
           "Programm belegt. " +
           kModemManager},
      {"/dev/ttyUSB1", EIO, kEnded + "Ort:1138, Code:0005, Art:00"},
  };
  for (const Row& row : rows) {
    messages.shown.clear();
    if (row.error) ports.FailOpen(ComPortDevicePath(row.port), row.error);
    view.port_text = row.port;
    form->FlashClick();
    EXPECT_EQ(Boxes(), Strings{row.box}) << row.port;
  }

  // A device that does not answer: the link gives up, or the run's time runs out.
  const std::string kNoAnswer =
      "\rHinweis: Das Gerät antwortet nicht. Ist es eingeschaltet und "
      "im Flashmodus, und steckt das Kabel am gewählten Port?";
  messages.shown.clear();
  Start();
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3031, 3, "x", 0);
  Protocol().OnErrorAbortEvent = nullptr;
  form->FlashClick();
  loop.Advance(std::chrono::milliseconds(300000));
  EXPECT_EQ(Boxes(), (Strings{kEnded + "Ort:3031, Code:0003, Art:00" + kNoAnswer,
                              std::string(flasher_text::kTimeOut) + kNoAnswer}));
  EXPECT_EQ(messages.shown[1].kind, MessageKind::Error);
  fs::remove_all(root);
}

// The box speaks German whatever the cause; causes without a text of ours keep their number.
TEST_F(FormOnLinux, DeveloperFileErrorsInGerman) {
  const fs::path dir = fs::temp_directory_path() / ("deverr-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::create_symlink(dir / "loop", dir / "loop");
  { std::ofstream(dir / "locked.bin") << std::string(kImageSize, '\x01'); }
  chmod((dir / "locked.bin").c_str(), 0);
  const std::pair<std::string, std::string> rows[] = {
      // Memory that is not mapped cannot be read: the read fails with EIO.
      {"/proc/self/mem", "kann nicht gelesen werden:\rLesefehler des Datenträgers."},
      {(dir / "loop").string(), "kann nicht geöffnet werden:\rSystemfehler 40."},
      {(dir / "missing" / "x.bin").string(),
       "kann nicht geöffnet werden:\rDie Datei wurde nicht gefunden."},
      {(dir / "locked.bin").string(),
       "kann nicht geöffnet werden:\rKeine Berechtigung, die Datei zu lesen."},
  };
  for (const auto& [file, text] : rows) {
    messages.shown.clear();
    view.file_text = file;
    // Root reads every file: the locked one is tried as nobody.
    const bool as_nobody = geteuid() == 0 && file.find("locked") != std::string::npos;
    if (as_nobody) {
      ASSERT_EQ(seteuid(65534), 0);
    }
    form->FlashClick();
    if (as_nobody) {
      ASSERT_EQ(seteuid(0), 0);
    }
    ASSERT_EQ(messages.shown.size(), 1u) << file;
    EXPECT_EQ(messages.shown[0].text, "Die Datei \"" + file + "\" " + text);
    EXPECT_FALSE(form->Running());
  }
  fs::remove_all(dir);
}
