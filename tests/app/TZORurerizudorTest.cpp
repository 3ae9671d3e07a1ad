// The flasher's run logic on a recording view, the virtual clock and the fake comm port:
// every row of the run's state table, the texts, the progress and the end of a run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "connection/TDoVuverUve.h"
#include "tests/app/FormFixture.h"

using namespace form_test;
using platform::MessageAnswer;
using platform::MessageKind;

// --- Window creation --------------------------------------------------------------------

TEST_F(Form, CreationShowsTheImagesVersionsAndPorts) {
  EXPECT_EQ(view.caption, "Kettrel - MirbaZento \"ARX\" Flasher V3.30/13.30");
  EXPECT_EQ(form->VersionHR0(), 330);
  EXPECT_EQ(form->VersionHR1(), 1330);
  EXPECT_EQ(form->VersionAktuell(), 0);
  EXPECT_FALSE(view.developer_controls);
  EXPECT_EQ(view.ports, machine_ports);
  EXPECT_EQ(view.selected_port, -1) << "no port is named COM1";
  machine_ports = {"/dev/ttyS0", "com1"};
  Make("VERidOvudida");
  EXPECT_EQ(view.selected_port, 1) << "the configured port, ignoring case";
  machine_ports.clear();
  Make("VERidOvudida");
  EXPECT_TRUE(view.ports.empty());
  EXPECT_EQ(view.selected_port, -1);
}

TEST_F(Form, DeveloperModeByTheExecutablesName) {
  for (const char* name : {"/opt/x/VERidOvudida_Develop.exe", "veridovudida_develop.EXE",
                           "./VERIDOVUDIDA_DEVELOP", "VERidOvudida_Develop"}) {
    Make(name);
    EXPECT_TRUE(form->DeveloperMode()) << name;
    EXPECT_TRUE(view.developer_controls) << name;
    EXPECT_EQ(view.caption, "Kettrel - MirbaZento \"ARX\" Flasher V3.30/13.30 - Developer Version");
  }
  for (const char* name : {"VERidOvudida_Developx.exe", "VERidOvudida", "/VERidOvudida_Develop.exe/x",
                           "VERidOvudida_Develop.ex"}) {
    Make(name);
    EXPECT_FALSE(form->DeveloperMode()) << name;
    EXPECT_FALSE(view.developer_controls) << name;
  }
}

// --- Starting and ending a run ----------------------------------------------------------

TEST_F(Form, FlashStartsARunAndHandsOverTheEntryCommand) {
  Start();
  EXPECT_FALSE(view.flash_enabled);
  EXPECT_FALSE(view.port_enabled);
  EXPECT_EQ((Strings{view.calls[0], view.calls[1]}), (Strings{"Port off", "Flash off"}));
  EXPECT_TRUE(form->DoVuverUve1().Active());
  EXPECT_TRUE(Protocol().Active());
  EXPECT_EQ(form->DaVevureRez1().ComPort(), "ttyFAKE");
  EXPECT_EQ(form->DoVuverUve1().MaxProtokollAnzahl(), 10000);
  EXPECT_EQ(form->Status(), TStatus::stStart);
  EXPECT_EQ(Handed(), Strings{kEntry});
  EXPECT_EQ(port->Written(), "\x02") << "the entry command's STX is on the line";
}

TEST_F(Form, TimeOutEndsTheRunWhateverTheState) {
  Start();
  // A silent device would end the run earlier through the link's error report; only the
  // time-out is looked at here.
  Protocol().OnErrorAbortEvent = nullptr;
  loop.Advance(std::chrono::milliseconds(299999));
  EXPECT_TRUE(form->Running());
  loop.Advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(form->Running());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Error);
  EXPECT_EQ(messages.shown[0].text,
            "TimeOut Error!\rDas Flashen ist Fehlgeschlagen\rBeim Flashen ist eine "
            "Zeitüberschreitung aufgetreten !");
  EXPECT_EQ(ended, std::vector<RunResult>{RunResult::TimeOut});
  loop.Advance(std::chrono::milliseconds(600000));
  EXPECT_EQ(messages.shown.size(), 1u) << "the timer is off after the run";
}

TEST_F(Form, EndingARunRestoresTheWindowAndSwitchesEverythingOff) {
  Start();
  Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1D})});
  view.calls.clear();
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3031, 3, "x", 0);
  EXPECT_EQ((Strings{view.calls.begin(), view.calls.begin() + 3}),
            (Strings{"Flash on", "Progress 0", "Port on"}));
  EXPECT_FALSE(Protocol().Active());
  EXPECT_FALSE(form->DaVevureRez1().Active());
  EXPECT_FALSE(form->DoVuverUve1().Active());
  EXPECT_TRUE(form->AnsiStringList().empty());
  EXPECT_EQ(form->Status(), TStatus::stSenden) << "the state keeps its last value";
}

TEST_F(Form, PortThatDoesNotOpenEndsTheRunAtOnce) {
  view.port_text = "/dev/nothing-here";
  form->FlashClick();
  EXPECT_FALSE(form->Running());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text,
            "Es ist ein Fehler aufgetreten, das Flashen wird beendet !\rOrt:1138, Code:0002, "
            "Art:00");
  EXPECT_EQ(ended, std::vector<RunResult>{RunResult::ErrorReport});
  EXPECT_TRUE(view.flash_enabled);
  loop.Advance(std::chrono::milliseconds(400000));
  EXPECT_EQ(messages.shown.size(), 1u) << "no time-out after the run has ended";
}

TEST_F(Form, OnlyTheFirstErrorOfARunEndsItAndOnlyErrors) {
  Start();
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3031, 3, "x", 1);
  EXPECT_TRUE(form->Running()) << "a warning does not end the run";
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3030, 6, "Senden nicht erfolgreich !", 0);
  EXPECT_FALSE(form->Running());
  EXPECT_EQ(Boxes(), Strings{"Es ist ein Fehler aufgetreten, das Flashen wird beendet !\r"
                             "Ort:3030, Code:0006, Art:00"});
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3030, 6, "x", 0);
  EXPECT_EQ(messages.shown.size(), 1u);
}

// A device that restarts as it leaves flash mode is gone when the port closes: the purge
// fails, and that report must not become a second end of the run. Nor may anything the
// result box's loop delivers (a time-out, a late answer, another report).
TEST_F(Form, EndOfARunIsOneVerdictWhatTheClosingReports) {
  struct Ending {
    const char* name;
    std::function<void()> end;
    RunResult result;
    std::string text;
  };
  const Ending endings[] = {
      {"final answer",
       [this] {
         Deliver();
         form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
         Device({Bytes({0x00, 0x02, 0xF0, 0x0A, 0x01})});
       },
       RunResult::Flashed, "Flasher erfolgreich geflasht !!!"},
      {"ready report",
       [this] {
         Deliver();
         form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
         Deliver();
         form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
       },
       RunResult::Flashed, "MirbaZento erfolgreich geflasht !!!"},
      {"time-out", [this] { form->Timer1Timer(); }, RunResult::TimeOut,
       "TimeOut Error!\rDas Flashen ist Fehlgeschlagen\rBeim Flashen ist eine "
       "Zeitüberschreitung aufgetreten !"},
      {"error report",
       [this] { form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3030, 6, "x", 0); },
       RunResult::ErrorReport,
       "Es ist ein Fehler aufgetreten, das Flashen wird beendet !\rOrt:3030, Code:0006, Art:00"},
  };
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.name);
    messages.shown.clear();
    ended.clear();
    Start();
    Deliver();
    Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1D})});
    port->Fail("PurgeComm", 5, -1);
    // While the result box is open its loop delivers what is still under way.
    messages.while_open = [this](const platform::RecordingMessages::Shown&) {
      messages.while_open = nullptr;
      EXPECT_FALSE(form->Running()) << "the run is over before its result is shown";
      form->Timer1Timer();
      Protocol().ToProzessListe.emplace_back(Bytes({0x00, 0x02, 0xF0, 0x0A, 0xF0}));
      form->RiVadaroverEza1DataRecieveEvent(&Protocol());
      form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x1134, 5, "x", 0);
      form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
      loop.Advance(std::chrono::milliseconds(400000));
    };
    e.end();
    EXPECT_FALSE(form->Running());
    EXPECT_EQ(Boxes(), Strings{e.text});
    EXPECT_EQ(ended, std::vector<RunResult>{e.result});
    EXPECT_EQ(form->LastResult(), e.result);
    EXPECT_FALSE(form->DaVevureRez1().Active());
    EXPECT_TRUE(view.flash_enabled);
    const auto& log = form->DoVuverUve1().ProtokollListe;
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
      return l.find("Ort 1134") != std::string::npos;
    })) << "the closing's report is logged";
    messages.while_open = nullptr;
    form->DoVuverUve1().ProtokollListe.clear();
  }
}

// --- The dialogue ---------------------------------------------------------------------

TEST_F(Form, OlderDeviceGetsEveryNonEmptyBlockWithoutAQuestion) {
  Start();
  Deliver();
  form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());  // the entry command: nothing
  form->RiVadaroverEza1ComWriteDone(&Protocol());
  EXPECT_EQ(view.progress, 0);
  Device({Bytes({0x00, 0x02, 0x01, 0x0D, 0x1D})});  // revision 1, 13.29
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(form->HR(), THardwareRevision::hr1_M16CN4);
  EXPECT_EQ(form->VersionAktuell(), 1329);
  EXPECT_EQ(form->Status(), TStatus::stSenden);
  const auto expected = BuildBlockList(form->MZData2());
  EXPECT_EQ(Handed(), Strings(expected.begin(), expected.end()));
  EXPECT_EQ(form->BlockCount(), static_cast<int>(expected.size()));
  EXPECT_EQ(view.block_count, std::to_string(expected.size()));
}

TEST_F(Form, SameVersionAsksTheQuestionAndOkSends) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1E})});
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(messages.shown[0].text,
            "Die Version  3.30  ihres Mirbazentos ist aktuell.\rSoll trotzdem die Version 3.30 / "
            "13.30 geschrieben werden ?");
  EXPECT_EQ(form->Status(), TStatus::stSenden);
  EXPECT_EQ(Handed().size(), BuildBlockList(form->MZData()).size());
}

TEST_F(Form, QuestionFormatsSmallNumbersWithSpaces) {
  Start();
  Deliver();
  messages.answers = {MessageAnswer::Cancel};
  Device({Bytes({0x00, 0x02, 0x00, 0x04, 0x05})});
  EXPECT_EQ(Boxes()[0].substr(0, 29), "Die Version  4. 5  ihres Mirb");
}

TEST_F(Form, CancelLeavesFlashModeAndStopsReading) {
  Start();
  Deliver();
  messages.answers = {MessageAnswer::Cancel};
  const ByteString later = Bytes({0x00, 0x02, 0xF0, 0x0A, 0x00});
  Device({Bytes({0x00, 0x02, 0x00, 0x05, 0x00}), later});
  EXPECT_EQ(form->Status(), TStatus::stNeustart);
  EXPECT_EQ(form->SRText(), kAbortText);
  EXPECT_EQ(Handed(), Strings{kLeave});
  EXPECT_EQ(Protocol().GetNextClusterSize(), 5u) << "the second message waits";
  // The leave command delivered: the run ends with the abort text.
  Deliver();
  Protocol().ToProzessListe.clear();
  form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
  EXPECT_FALSE(form->Running());
  EXPECT_EQ(Boxes().back(), kAbortText);
  EXPECT_EQ(ended, std::vector<RunResult>{RunResult::LeftWithoutWriting});
  EXPECT_TRUE(loop.Sleeps().empty()) << "no 8 s wait on this path";
}

TEST_F(Form, RevisionWithoutAnImageLeavesAtOnce) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x02, 0x04, 0x00})});
  EXPECT_EQ(form->VersionAktuell(), 400);
  EXPECT_EQ(form->Status(), TStatus::stNeustart);
  EXPECT_EQ(form->SRText(), kAbortText);
  EXPECT_EQ(Handed(), Strings{kLeave});
  EXPECT_TRUE(messages.shown.empty());
  // The device's own final answer may come first.
  Device({Bytes({0x00, 0x02, 0xF0, 0x0A, 0x00})});
  EXPECT_EQ(Boxes(), Strings{"Flashmodus ohne Schreiben verlassen"});
}

TEST_F(Form, MessagesThatAreNoIdentificationChangeNothing) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x03, 0x00, 0x01, 0x01})});
  EXPECT_EQ(form->Status(), TStatus::stStart);
  EXPECT_TRUE(Handed().empty());
  EXPECT_TRUE(messages.shown.empty()) << "VersionAktuell 0 calls for no question";
}

TEST_F(Form, ShortIdentificationUsesTheVersionOfAnEarlierRun) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02})});
  EXPECT_TRUE(messages.shown.empty()) << "first run: VersionAktuell is 0";
  EXPECT_EQ(form->Status(), TStatus::stSenden);
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 1, 1, "", 0);  // end the run

  messages.shown.clear();
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x01, 0x0D, 0x1E})});  // 13.30 on revision 1: question
  ASSERT_EQ(messages.shown.size(), 1u);
  form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 1, 1, "", 0);
  messages.shown.clear();
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02})});  // revision 0 now, but the version is still 13.30
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Confirmation);
}

TEST_F(Form, SecondMessageOfTheIdentificationBatchIsDiscarded) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1D}), Bytes({0x00, 0x02, 0xF0, 0x0A, 0x01})});
  EXPECT_EQ(form->Status(), TStatus::stSenden);
  EXPECT_EQ(Protocol().GetNextClusterSize(), 0u);
  EXPECT_TRUE(form->Running());
}

TEST_F(Form, ProgressFollowsTheSendQueue) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1D})});
  const int n = form->BlockCount();
  ASSERT_GT(n, 4);
  Protocol().ToSendListe.resize(static_cast<std::size_t>(n / 4));
  form->RiVadaroverEza1ComWriteDone(&Protocol());
  EXPECT_EQ(view.progress, (n - n / 4) * 100 / n);
  Device({Bytes({0x00, 0x02, 0xF0, 0x0A, 0x01})});  // discarded while sending
  EXPECT_TRUE(form->Running());
}

TEST_F(Form, ProgressValuesForThousandAndThreeBlocks) {
  // Developer files with exactly 1000 and 3 non-empty blocks.
  const std::string file = (fs::temp_directory_path() / ("dev-" + std::to_string(getpid()) + ".bin")).string();
  for (const auto& [blocks, waiting, expected] : {std::tuple{1000, 250, 75}, std::tuple{3, 2, 33}}) {
    std::string image(kImageSize, '\xFF');
    image[0] = 0x01;  // version 1.00: older than any device here
    image[1] = 0x00;
    for (int k = 0; k < blocks; ++k) image[static_cast<std::size_t>(k) * 64 + 5] = 0x10;
    { std::ofstream(file, std::ios::binary) << image; }
    view.file_text = file;
    Start();
    Deliver();
    Device({Bytes({0x00, 0x02, 0x00, 0x01, 0x01})});
    ASSERT_EQ(form->BlockCount(), blocks);
    Protocol().ToSendListe.resize(static_cast<std::size_t>(waiting));
    form->RiVadaroverEza1ComWriteDone(&Protocol());
    EXPECT_EQ(view.progress, expected);
    form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 1, 1, "", 0);
  }
  fs::remove(file);
}

TEST_F(Form, AllDeliveredSendsTheFinishCommandAndCopiesTheLog) {
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1D})});
  Deliver();
  form->DoVuverUve1().ProtokollListe.push_back("line 1");
  Protocol().SetP3964RPBlockModeSendRequest(true);
  form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
  EXPECT_FALSE(Protocol().P3964RPBlockModeSendRequest());
  EXPECT_EQ(Handed(), Strings{kFinish});
  EXPECT_EQ(form->Status(), TStatus::stNeustart);
  ASSERT_FALSE(view.memo.empty());
  EXPECT_EQ(view.memo.back(), "line 1");
  EXPECT_TRUE(form->DoVuverUve1().ProtokollListe.empty());
  const int progress = view.progress;
  form->RiVadaroverEza1ComWriteDone(&Protocol());
  EXPECT_EQ(view.progress, progress) << "unchanged after the transfer";
}

TEST_F(Form, FinalAnswersEndTheRunWithTheirTexts) {
  const std::tuple<int, const char*, RunResult> answers[] = {
      {0x00, "Flashmodus ohne Schreiben verlassen", RunResult::LeftWithoutWriting},
      {0x01, "Flasher erfolgreich geflasht !!!", RunResult::Flashed},
      {0xF0, "Fehler aufgetreten, nicht geflasht !!!", RunResult::DeviceError},
      {0x02, nullptr, RunResult::OtherAnswer},
  };
  for (const auto& [answer, text, result] : answers) {
    StartToTheFinish();
    Device({Bytes({0x00, 0x02, 0xF0, 0x0A, 0x01, 0x00})});  // six bytes: discarded
    EXPECT_TRUE(form->Running());
    Device({Bytes({0x00, 0x02, 0xF0, 0x0A, answer})});
    EXPECT_FALSE(form->Running());
    EXPECT_EQ(Boxes(), text ? Strings{text} : Strings{}) << answer;
    EXPECT_EQ(ended, std::vector<RunResult>{result});
    if (text) {
      EXPECT_EQ(messages.shown[0].kind, MessageKind::Plain);
    }
  }
}

// In the window the wait blocks the loop. Several runs share the command line's loop: there
// the wait is this run's pause, and the run takes nothing during it, as a blocked loop would not.
TEST_F(Form, ReadyAfterTheFinishCommandWaitsThenReportsSuccess) {
  for (const bool blocks : {true, false}) {
    SCOPED_TRACE(blocks ? "blocking wait" : "wait of the run alone");
    Make("VERidOvudida", blocks);
    StartToTheFinish();
    Deliver();
    form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
    if (blocks) {
      EXPECT_EQ(loop.Sleeps(), std::vector<platform::Milliseconds>{platform::Milliseconds(8000)});
    } else {
      EXPECT_EQ(loop.Sleeps().size(), 1u) << "no further sleep";
      loop.Advance(std::chrono::milliseconds(7999));
      Device({Bytes({0x00, 0x02, 0xF0, 0x0A, 0xF0})});
      form->RiVadaroverEza1ErrorAbortEvent(&Protocol(), 0x3030, 6, "x", 0);
      form->Timer1Timer();
      EXPECT_TRUE(form->Running());
      EXPECT_TRUE(messages.shown.empty()) << "neither the answer, the report nor the time-out";
      loop.Advance(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(form->Running());
    EXPECT_EQ(Boxes(), Strings{"MirbaZento erfolgreich geflasht !!!"});
    EXPECT_EQ(ended, std::vector<RunResult>{RunResult::Flashed});
    EXPECT_EQ(form->DeviceRevision(), 0);
  }
}

TEST_F(Form, ErasedImageSendsNothingAndWaitsForTheTimeOut) {
  const std::string file = (fs::temp_directory_path() / ("erased-" + std::to_string(getpid()) + ".bin")).string();
  { std::ofstream(file, std::ios::binary) << std::string(kImageSize, '\xFF'); }
  view.file_text = file;
  Start();
  Deliver();
  Device({Bytes({0x00, 0x02, 0x00, 0x01, 0x01})});
  EXPECT_EQ(form->Status(), TStatus::stStart);
  EXPECT_TRUE(Handed().empty());
  fs::remove(file);
}

// --- The developer file -----------------------------------------------------------------

TEST_F(Form, DeveloperFileReplacesBothImagesReadOnlyWorks) {
  const std::string file = (fs::temp_directory_path() / ("ro-" + std::to_string(getpid()) + ".bin")).string();
  std::string image(kImageSize + 100, '\x33');
  image[0] = 0x02;
  image[1] = 0x07;
  { std::ofstream(file, std::ios::binary) << image; }
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  view.file_text = file;
  Start();
  EXPECT_EQ(form->VersionHR0(), 207);
  EXPECT_EQ(form->VersionHR1(), 207);
  EXPECT_EQ(form->MZData(), form->MZData2());
  EXPECT_EQ(view.caption, "Kettrel - MirbaZento \"ARX\" Flasher V3.30/13.30") << "unchanged";
  fs::permissions(file, fs::perms::owner_all);  // Windows removes no read-only file
  fs::remove(file);
}

TEST_F(Form, DeveloperFileThatCannotBeUsedStartsNoRun) {
  port = ports.Add(platform::DevicePath("ttyFAKE"));
  view.port_text = "ttyFAKE";
  view.file_text = "/nonexistent/dir/image.bin";
  form->FlashClick();
  EXPECT_FALSE(form->Running());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Error);
  EXPECT_NE(messages.shown[0].text.find("/nonexistent/dir/image.bin"), std::string::npos);
  EXPECT_NE(
      messages.shown[0].text.find("kann nicht geöffnet werden:\rDie Datei wurde nicht gefunden."),
      std::string::npos)
      << messages.shown[0].text;
  EXPECT_TRUE(view.flash_enabled);
  EXPECT_TRUE(view.port_enabled);
  EXPECT_FALSE(form->DoVuverUve1().Active()) << "no component was switched on";
  EXPECT_EQ(ended, std::vector<RunResult>{RunResult::FileError});

  const std::string file = (fs::temp_directory_path() / ("short-" + std::to_string(getpid()) + ".bin")).string();
  { std::ofstream(file, std::ios::binary) << std::string(1000, '\x01'); }
  view.file_text = file;
  form->FlashClick();
  EXPECT_FALSE(form->Running());
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_NE(messages.shown[1].text.find("1000 Bytes"), std::string::npos);
  EXPECT_TRUE(view.flash_enabled);
  EXPECT_TRUE(view.port_enabled);
  EXPECT_EQ(form->VersionHR0(), 330) << "the images are untouched";
  fs::remove(file);

  // A folder is said to be one, not taken as a file of 0 bytes. Linux opens a folder and
  // fails to read it; Windows does not open it.
  view.file_text = fs::temp_directory_path().string();
  form->FlashClick();
  ASSERT_EQ(messages.shown.size(), 3u);
  const std::string& text = messages.shown[2].text;
  EXPECT_TRUE(text.find("kann nicht gelesen werden:\rDas ist ein Ordner, keine Datei.") !=
                  std::string::npos ||
              text.find("kann nicht geöffnet werden:\rDas ist ein Ordner, keine Datei.") !=
                  std::string::npos)
      << text;
  EXPECT_TRUE(view.flash_enabled);
}

TEST_F(Form, DefaultFileNameNeverReadsAFile) {
  { std::ofstream(".\\QF20.bin", std::ios::binary) << std::string(kImageSize, '\x00'); }
  view.file_text = ".\\QF20.bin";
  Start();
  EXPECT_EQ(form->VersionHR0(), 330);
  fs::remove(".\\QF20.bin");
}
