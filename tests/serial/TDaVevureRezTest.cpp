// The serial component on the fake port: opening, closing, line settings, modem outputs,
// reports and the send path.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/System.h"
#include "tests/serial/FakePortFixture.h"

using namespace platform::comm;
using platform::CommDcb;
using platform::FakeCommPort;
using serial_test::FakePortFixture;
using Strings = std::vector<std::string>;
using Places = std::vector<std::uint32_t>;

namespace {

const Strings kOpeningCalls = {
    "SetupComm(4096,4096)", "GetCommState",          "GetCommTimeouts",       "SetCommTimeouts",
    "SetCommState",         "EscapeCommFunction(5)", "EscapeCommFunction(3)", "SetCommMask(0x1FF)",
};
const Strings kClosingCalls = {
    "SetCommMask(0x0)",      "PurgeComm(15)", "EscapeCommFunction(6)",
    "EscapeCommFunction(4)", "CloseHandle",
};

class Component : public FakePortFixture {};

}  // namespace

// --- Opening, closing, restarting -------------------------------------------------------

TEST_F(Component, NewComponentHasTheInitialSettingsAndAnIdleWorker) {
  EXPECT_FALSE(com->Active());
  EXPECT_EQ(com->ComPort(), "COM2");
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(com->DataBits(), 8);
  EXPECT_EQ(com->XONChar(), 11);
  EXPECT_EQ(com->XOFFChar(), 13);
  EXPECT_EQ(com->XONLimDiv(), 33);
  EXPECT_EQ(com->RTOCharDelayTime(), 1100u);
  EXPECT_EQ(com->WTOExtraDelayTime(), 250u);
  EXPECT_TRUE(com->XTOAuto());
  EXPECT_EQ(com->ClusterSize(), 3072u);
  EXPECT_EQ(com->RxQueueSize(), 4096u);
  EXPECT_EQ(com->ErrorNoise(), 255);
  EXPECT_TRUE(com->RTSState());
  EXPECT_TRUE(com->DTRState());
  EXPECT_FALSE(com->BREAKState());
  EXPECT_FALSE(com->IsWorkThreadTerminated());
  EXPECT_TRUE(reports.empty()) << "construction reports nothing";
  EXPECT_TRUE(ports.Opened().empty());
}

TEST_F(Component, OpeningAppliesEverySettingInOrder) {
  auto port = Open();
  EXPECT_EQ(port->MainCalls(), kOpeningCalls);
  EXPECT_EQ(Reported(), (Places{0x1136}));
  EXPECT_EQ(reports[0].msg, "Meldung: starte Port wieder");
  EXPECT_EQ(reports[0].noise, 2);
  EXPECT_EQ(reports[0].sender, &owner) << "reports come from the owner";
  EXPECT_EQ(port->Mask(), EV_ALL);
  EXPECT_EQ(ports.Opened(), (Strings{platform::DevicePath("COM2")}));
}

TEST_F(Component, OpeningAMissingPortReportsAndStaysClosed) {
  com->SetComPort("ttyNONE");
  com->SetActive(true);
  EXPECT_FALSE(com->Active());
  ASSERT_EQ(Reported(), (Places{0x1136, 0x1138}));
  EXPECT_EQ(reports[1].code, static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(reports[1].msg, "Fehler: Port Neustart");
  EXPECT_EQ(reports[1].noise, 0);
  EXPECT_EQ(ports.Opened(), (Strings{platform::DevicePath("ttyNONE")}));
  // Closed as before: a new name is only stored.
  com->SetComPort("ttyOTHER");
  EXPECT_EQ(ports.Opened().size(), 1u);
}

TEST_F(Component, PortNamesBecomeDevicePaths) {
  const std::string longName(80, 'x');
  com->SetComPort(longName);
  com->SetActive(true);
  EXPECT_EQ(ports.Opened().back(), platform::DevicePath("") + std::string(75, 'x'));
  com->SetActive(false);
  if (platform::DevicePath("/x") != "/x") return;  // Windows has no paths as port names

  // Stable names of USB adapters are longer than the cut, which is for bare names only.
  const std::string byId =
      "/dev/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_"
      "Controller_5c2a8e14c8c5eb11a2f36f5c6f4a7b21-if00-port0";
  ASSERT_GT(byId.size(), 100u);
  ports.Add(byId);
  com->SetComPort(byId);
  com->SetActive(true);
  EXPECT_TRUE(com->Active());
  EXPECT_EQ(ports.Opened().back(), byId);
}

TEST_F(Component, ClosingRunsItsStepsAndLowersTheOutputs) {
  auto port = Open();
  port->ClearCalls();
  reports.clear();
  com->SetActive(false);
  EXPECT_FALSE(com->Active());
  EXPECT_EQ(port->MainCalls(), kClosingCalls);
  EXPECT_EQ(Reported(), (Places{0x1131})) << "a silent port closes without a warning";
  EXPECT_FALSE(com->DTRState());
  EXPECT_FALSE(com->RTSState());
  EXPECT_TRUE(port->Closed());
  Settle(*port);

  // The next opening raises both outputs again.
  auto again = ports.Add(platform::DevicePath("COM2"));
  com->SetActive(true);
  EXPECT_TRUE(com->DTRState());
  EXPECT_TRUE(com->RTSState());
  Settle(*again);
}

TEST_F(Component, ClosingFailuresAreReportedAndTheHandleIsForgottenAnyway) {
  auto port = Open();
  reports.clear();
  port->Fail("SetCommMask", 5);
  port->Fail("PurgeComm", 6);
  port->Fail("EscapeCommFunction", 7, 2);
  port->Fail("CloseHandle", 8);
  com->SetActive(false);
  // Without the mask change the worker's event wait goes on, so it does not go idle.
  EXPECT_EQ(Reported(), (Places{0x1131, 0x1132, 0x1133, 0x1134, 0x1062, 0x1052, 0x1135}));
  EXPECT_EQ(reports[6].code, 8u);
  EXPECT_FALSE(com->Active());
  // The port can be opened again.
  ports.Add(platform::DevicePath("COM2"));
  com->SetActive(true);
  EXPECT_TRUE(com->Active());
}

TEST_F(Component, ActiveTrueOnAnOpenPortDoesNothing) {
  auto port = Open();
  port->ClearCalls();
  reports.clear();
  com->SetActive(true);
  EXPECT_TRUE(port->MainCalls().empty());
  EXPECT_TRUE(reports.empty());
}

TEST_F(Component, NewNameRestartsAnOpenPort) {
  auto first = Open("COM2");
  auto second = ports.Add(platform::DevicePath("COM3"));
  reports.clear();
  com->SetComPort("COM2");
  EXPECT_TRUE(reports.empty()) << "the same name does nothing";

  com->SetComPort("COM3");
  EXPECT_EQ(Reported(), (Places{0x1131, 0x1136}));
  EXPECT_TRUE(first->Closed());
  EXPECT_TRUE(com->Active());
  EXPECT_EQ(second->MainCalls(), kOpeningCalls);
  Settle(*second);
  // The worker serves the new port.
  second->InjectRx("x");
  Settle(*second);
  EXPECT_EQ(com->ComStateInQueue(), 1u);
}

TEST_F(Component, OpeningFailuresAfterTheOpenAreReportedAndThePortStaysOpen) {
  auto port = ports.Add(platform::DevicePath("COM2"));
  port->Fail("SetupComm", 11);
  port->Fail("SetCommMask", 12);
  port->Fail("EscapeCommFunction", 13, 2);
  com->SetActive(true);
  EXPECT_TRUE(com->Active());
  EXPECT_EQ(Reported(), (Places{0x1136, 0x1137, 0x1061, 0x1051, 0x1141}));
  EXPECT_TRUE(com->DTRState());
  EXPECT_TRUE(com->RTSState());
}

TEST_F(Component, DestroyingAnOpenComponentReportsNothing) {
  auto port = Open();
  RecordEvents();
  reports.clear();
  port->InjectRx("data");
  com.reset();
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(port->Closed());
}

TEST_F(Component, DestroyingANeverOpenedComponentEndsItsWorker) {
  com.reset();
  EXPECT_TRUE(reports.empty());
}

// --- Line settings ----------------------------------------------------------------------

TEST_F(Component, LineDescriptionOfTheInitialSettings) {
  auto port = Open();
  const CommDcb dcb = port->LastDcb();
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Flags, DCB_BINARY);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.XonChar, 11);
  EXPECT_EQ(dcb.XoffChar, 13);
  EXPECT_EQ(dcb.XonLim, 1351) << "4096 x 33 / 100";
  EXPECT_EQ(dcb.XoffLim, 1351);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.EofChar, 0) << "the driver's end-of-file character is cleared";
  const auto timeouts = port->TimeoutsSet().back();
  EXPECT_EQ(timeouts, (platform::CommTimeouts{0xFFFFFFFF, 0, 0, 0, 0}));
}

TEST_F(Component, EverySettingReachesTheLineDescriptionOfAnOpenPort) {
  auto port = Open();
  const auto applied = [&] { return port->CountCalls("SetCommState"); };
  int n = applied();

  com->SetParityType(3);
  EXPECT_EQ(port->LastDcb().Parity, 3);
  EXPECT_EQ(port->LastDcb().Flags, DCB_BINARY | DCB_PARITY);
  com->SetParityErrorReplacement(true);
  com->SetParityErrorChar('?');
  EXPECT_EQ(port->LastDcb().Flags, DCB_BINARY | DCB_PARITY | DCB_ERROR_CHAR);
  EXPECT_EQ(port->LastDcb().ErrorChar, '?');
  com->SetStopBits(2);
  EXPECT_EQ(port->LastDcb().StopBits, 2);
  com->SetDataBits(7);
  EXPECT_EQ(port->LastDcb().ByteSize, 7);
  com->SetXONChar(17);
  com->SetXOFFChar(19);
  EXPECT_EQ(port->LastDcb().XonChar, 17);
  EXPECT_EQ(port->LastDcb().XoffChar, 19);
  com->SetStripNullChars(true);
  EXPECT_TRUE(port->LastDcb().Flags & DCB_NULL);
  com->SetEventChar('\r');
  EXPECT_EQ(port->LastDcb().EvtChar, '\r');
  com->SetXONLimDiv(100);
  com->SetXOFFLimDiv(100);
  EXPECT_EQ(port->LastDcb().XonLim, 4096);
  EXPECT_EQ(port->LastDcb().XoffLim, 4096);
  com->SetBaudRate(115200);
  EXPECT_EQ(port->LastDcb().BaudRate, 115200u);
  EXPECT_EQ(applied() - n, 13) << "each setter reapplies; the baud rate twice with XTOAuto";

  n = applied();
  com->SetDataBits(7);
  com->SetRTOCharDelayTime(5);
  com->SetRTOExtraDelayTime(6);
  com->SetWTOExtraDelayTime(7);
  EXPECT_EQ(applied(), n) << "equal values and receive times do not reapply";
  com->SetWTOCharDelayTime(5);
  EXPECT_EQ(applied(), n + 1);
  EXPECT_EQ(Reported(), (Places{0x1136})) << "no failure";
}

TEST_F(Component, FlowControlValuesGoIntoTheFlagWordUnchanged) {
  auto port = Open();
  const std::pair<std::int32_t, std::uint32_t> cases[] = {
      {896, 0x381}, {8196, 0x2005}, {40, 0x29}, {4240, 0x1091}, {0x4000, 0x4001}, {0, 0x1}};
  for (const auto& [value, flags] : cases) {
    com->SetFlowControl(value);
    EXPECT_EQ(port->LastDcb().Flags, flags) << value;
  }
}

TEST_F(Component, SettingsOfAClosedPortAreOnlyStored) {
  com->SetBaudRate(19200);
  com->SetParityType(2);
  com->SetFlowControl(8196);
  EXPECT_TRUE(reports.empty());
  auto port = Open();
  EXPECT_EQ(port->LastDcb().BaudRate, 19200u);
  EXPECT_EQ(port->LastDcb().Flags, DCB_BINARY | DCB_PARITY | 8196u);
}

TEST_F(Component, ApplyingFailuresAreReported) {
  auto port = Open();
  reports.clear();
  port->ClearCalls();
  port->Fail("GetCommState", 21, 2);
  com->SetBaudRate(4800);
  EXPECT_EQ(Reported(), (Places{0x1121, 0x1121})) << "XTODefault reapplies once more";
  EXPECT_EQ(port->CountCalls("SetCommState"), 0) << "nothing applied without the DCB";

  reports.clear();
  port->Fail("SetCommTimeouts", 22);
  port->Fail("SetCommState", 23);
  com->SetDataBits(4);
  EXPECT_EQ(Reported(), (Places{0x1122, 0x1123}));
  EXPECT_EQ(reports[1].msg, "Fehler: beim setzen der DCB-Struktur");
  EXPECT_EQ(reports[1].code, 23u);
  EXPECT_EQ(port->MainCalls().back(), "SetCommState") << "the timeouts come first";
}

TEST_F(Component, LimitPercentagesAboveHundredAreCut) {
  com->SetXONLimDiv(150);
  ASSERT_EQ(Reported(), (Places{0x1011}));
  EXPECT_EQ(reports[0].code, 150u);
  EXPECT_EQ(reports[0].noise, 1);
  EXPECT_EQ(reports[0].msg, "Warnung XONLimDiv wird auf 100 gesetzt");
  EXPECT_EQ(com->XONLimDiv(), 100);
  com->SetXOFFLimDiv(static_cast<std::uint8_t>(300));  // a wider value arrives as its low byte
  EXPECT_EQ(com->XOFFLimDiv(), 44);
  com->SetXOFFLimDiv(101);
  EXPECT_EQ(Reported(), (Places{0x1011, 0x1021}));
  EXPECT_EQ(com->XOFFLimDiv(), 100);
}

TEST_F(Component, QueueSizesAreSetAtOnceEvenOnAClosedPort) {
  com->SetRxQueueSize(8192);
  ASSERT_EQ(Reported(), (Places{0x1031})) << "no queue on a closed port";
  EXPECT_EQ(reports[0].code, platform::InvalidHandleError());
  EXPECT_EQ(com->RxQueueSize(), 8192u);
  auto port = Open();
  EXPECT_EQ(port->MainCalls().front(), "SetupComm(8192,4096)");
  EXPECT_EQ(port->LastDcb().XonLim, 2703);
  com->SetTxQueueSize(1024);
  EXPECT_EQ(port->MainCalls().back(), "SetupComm(8192,1024)");
  port->Fail("SetupComm", 3);
  com->SetTxQueueSize(2048);
  EXPECT_EQ(Reported().back(), 0x1041u);
}

TEST_F(Component, CharacterTimesFollowTheBaudRate) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {50, 1100},   {75, 150000}, {110, 100000}, {300, 37000}, {1200, 9000},
      {9600, 1100}, {14400, 760}, {19200, 570},  {56000, 200}, {115200, 95},
      {200000, 85}, {256000, 43}, {4000000, 43}, {74, 1100},
  };
  for (const auto& [baud, micros] : cases) {
    com->SetBaudRate(baud);
    EXPECT_EQ(com->RTOCharDelayTime(), micros) << baud;
    EXPECT_EQ(com->WTOCharDelayTime(), micros) << baud;
  }
  com->SetXTOAuto(false);
  com->SetBaudRate(300);
  EXPECT_EQ(com->RTOCharDelayTime(), 1100u) << "without XTOAuto the times stay";
  com->SetXTOAuto(true);
  EXPECT_EQ(com->RTOCharDelayTime(), 37000u) << "switching XTOAuto on applies them";
}

// --- Modem control outputs --------------------------------------------------------------

TEST_F(Component, ModemOutputsActOnlyWhileOpen) {
  com->SetRTSState(false);
  com->SetDTRState(false);
  com->SetBREAKState(true);
  EXPECT_TRUE(com->RTSState()) << "a closed port keeps the value";
  EXPECT_TRUE(com->DTRState());
  EXPECT_FALSE(com->BREAKState());

  auto port = Open();
  port->ClearCalls();
  com->SetRTSState(false);
  com->SetRTSState(false);
  com->SetDTRState(false);
  com->SetBREAKState(true);
  com->SetBREAKState(false);
  EXPECT_EQ(port->MainCalls(), (Strings{"EscapeCommFunction(4)", "EscapeCommFunction(4)",
                                        "EscapeCommFunction(6)", "SetCommBreak", "ClearCommBreak"}))
      << "no comparison with the current value";
  EXPECT_FALSE(com->RTSState());
  EXPECT_FALSE(com->DTRState());
}

TEST_F(Component, ModemOutputFailuresAreReportedAndTheValueStoredAnyway) {
  auto port = Open();
  reports.clear();
  port->Fail("EscapeCommFunction", 31, -1);
  port->Fail("SetCommBreak", 32);
  port->Fail("ClearCommBreak", 33);
  com->SetRTSState(true);
  com->SetRTSState(false);
  com->SetDTRState(true);
  com->SetDTRState(false);
  com->SetBREAKState(true);
  EXPECT_TRUE(com->BREAKState());
  com->SetBREAKState(false);
  EXPECT_EQ(Reported(), (Places{0x1051, 0x1052, 0x1061, 0x1062, 0x1071, 0x1072}));
  EXPECT_EQ(reports[1].msg, "Fehler: RTS löschen");
  EXPECT_EQ(reports[5].msg, "Fehler: BREAK löschen");
  EXPECT_FALSE(com->RTSState());
  EXPECT_FALSE(com->BREAKState());
  port->ClearFailures();
}

// --- Reports ----------------------------------------------------------------------------

TEST_F(Component, ErrorNoiseFiltersByLevel) {
  const auto attempt = [&](std::uint8_t noise) {
    reports.clear();
    com->SetErrorNoise(noise);
    com->SetComPort("missing" + std::to_string(noise));
    com->SetActive(true);                                    // 0x1136 message, 0x1138 error
    com->SetXONLimDiv(com->XONLimDiv() == 100 ? 101 : 200);  // 0x1011 warning
    return Reported();
  };
  EXPECT_EQ(attempt(0), (Places{0x1138})) << "errors pass even at 0";
  EXPECT_EQ(attempt(1), (Places{0x1138, 0x1011}));
  EXPECT_EQ(attempt(2), (Places{0x1136, 0x1138, 0x1011}));
  EXPECT_EQ(attempt(255), (Places{0x1136, 0x1138, 0x1011}));
}

TEST_F(Component, NoHandlerNoReport) {
  com->OnProcessError = nullptr;
  com->SetActive(true);  // must not fail without a handler
  EXPECT_FALSE(com->Active());
}

// --- Send path --------------------------------------------------------------------------

TEST_F(Component, WriteThatCompletesAtOnceRaisesWriteDoneBeforeReturning) {
  auto port = Open();
  RecordEvents();
  com->SendString("hello");
  EXPECT_EQ(events, (Strings{"WriteDone"}));
  EXPECT_EQ(com->WrittenBytes(), 5u);
  EXPECT_FALSE(com->SendInProgress());
  EXPECT_EQ(port->Written(), "hello");
  // A handler may send again at once.
  int sends = 0;
  com->OnWriteDone = [&](TObject*) {
    if (++sends < 3) com->SendString("again");
  };
  com->SendString("first");
  EXPECT_EQ(port->Written(), "hellofirstagainagain");
}

TEST_F(Component, EachWriteSetsItsTotalTimeout) {
  auto port = Open();
  const std::string block(64, 'b');
  com->SendString(block);
  EXPECT_EQ(port->TimeoutsSet().back(), (platform::CommTimeouts{0xFFFFFFFF, 0, 0, 0, 320}));
  com->SendString("abc");
  EXPECT_EQ(port->TimeoutsSet().back().WriteTotalTimeoutConstant, 253u) << "3300 div 1000 + 250";
}

TEST_F(Component, SendDataWhileAWriteIsOutstandingIsRefused) {
  auto port = Open();
  port->SetWritesPending(true);
  com->SendString("one");
  EXPECT_TRUE(com->SendInProgress());
  reports.clear();
  com->SendString("two");
  ASSERT_EQ(Reported(), (Places{0x1151}));
  EXPECT_EQ(reports[0].noise, 2);
  EXPECT_EQ(reports[0].msg, "Meldung: kann keine Daten senden, da SendInProgress gesetzt ist");
  EXPECT_EQ(port->Written(), "one") << "the data are dropped";
  EXPECT_EQ(port->CountCalls("WriteFile"), 1);
  port->SetWriteProgress(0, 3);
  Pass(*port);
}

TEST_F(Component, FailedWriteIsReportedWithoutWriteDone) {
  auto port = Open();
  RecordEvents();
  reports.clear();
  port->Fail("SetCommTimeouts", 41);
  port->Fail("WriteFile", 42);
  com->SendString("x");
  EXPECT_EQ(Reported(), (Places{0x1152, 0x1153}));
  EXPECT_EQ(reports[1].code, 42u);
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(com->SendInProgress());
  EXPECT_EQ(port->MainCalls().back(), "ResetOverlapped(Write)");
}

TEST_F(Component, SendingOnAClosedPortFailsWithReports) {
  com->SendString("x");
  EXPECT_EQ(Reported(), (Places{0x1152, 0x1153}));
  EXPECT_EQ(reports[1].code, platform::InvalidHandleError());
  reports.clear();
  com->SendString("");
  EXPECT_TRUE(reports.empty()) << "an empty string sends nothing";
}

TEST_F(Component, PurgesActOnlyWhileOpen) {
  com->ClearRxDQueue();
  com->ClearTxDQueue();
  EXPECT_TRUE(reports.empty());
  auto port = Open();
  port->ClearCalls();
  com->ClearRxDQueue();
  com->ClearTxDQueue();
  EXPECT_EQ(port->MainCalls(), (Strings{"PurgeComm(10)", "PurgeComm(5)"}));
  port->Fail("PurgeComm", 51, 2);
  reports.clear();
  com->ClearRxDQueue();
  com->ClearTxDQueue();
  EXPECT_EQ(Reported(), (Places{0x1161, 0x1171}));
}
