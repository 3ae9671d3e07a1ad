#include "serial/TDaVevureRez.h"

#include <iterator>

#include "platform/System.h"
#include "serial/TVoDiviVuvovi.h"

using namespace platform::comm;
using platform::CommSlot;

namespace {

constexpr std::uint8_t kError = 0;
constexpr std::uint8_t kWarning = 1;
constexpr std::uint8_t kMessage = 2;

// Closing waits this long for the worker to go idle, destruction for it to end.
constexpr int kIdleChecks = 20;
constexpr auto kIdleCheckPeriod = std::chrono::milliseconds(75);
constexpr int kEndChecks = 5;
constexpr auto kEndCheckPeriod = std::chrono::milliseconds(250);
constexpr auto kServeSlice = std::chrono::milliseconds(5);

// The handle of a closed port: every call fails as on an invalid handle.
class ClosedCommPort final : public platform::CommPort {
 public:
  std::uint32_t SetupComm(std::uint32_t, std::uint32_t) override { return Invalid(); }
  std::uint32_t GetCommState(platform::CommDcb&) override { return Invalid(); }
  std::uint32_t SetCommState(const platform::CommDcb&) override { return Invalid(); }
  std::uint32_t GetCommTimeouts(platform::CommTimeouts&) override { return Invalid(); }
  std::uint32_t SetCommTimeouts(const platform::CommTimeouts&) override { return Invalid(); }
  std::uint32_t SetCommMask(std::uint32_t) override { return Invalid(); }
  std::uint32_t WaitCommEvent(std::uint32_t&) override { return Invalid(); }
  std::uint32_t ReadFile(void*, std::uint32_t, std::uint32_t&) override { return Invalid(); }
  std::uint32_t WriteFile(const void*, std::uint32_t, std::uint32_t&) override { return Invalid(); }
  std::uint32_t GetOverlappedResult(CommSlot, std::uint32_t&) override { return Invalid(); }
  std::uint32_t ResetOverlapped(CommSlot) override { return 0; }
  std::uint32_t WaitForSlots(std::initializer_list<CommSlot>, std::uint32_t) override {
    return platform::kWaitFailed;
  }
  std::uint32_t ClearCommError(std::uint32_t&, platform::CommStat&) override { return Invalid(); }
  std::uint32_t GetCommModemStatus(std::uint32_t&) override { return Invalid(); }
  std::uint32_t EscapeCommFunction(std::uint32_t) override { return Invalid(); }
  std::uint32_t SetCommBreak() override { return Invalid(); }
  std::uint32_t ClearCommBreak() override { return Invalid(); }
  std::uint32_t PurgeComm(std::uint32_t) override { return Invalid(); }
  std::uint32_t CloseHandle() override { return Invalid(); }

 private:
  static std::uint32_t Invalid() { return platform::InvalidHandleError(); }
};

// Microseconds per character by baud rate, ascending.
struct CharTime {
  std::uint32_t baud;
  std::uint32_t micros;
};
constexpr CharTime kCharTimes[] = {
    {75, 150000}, {110, 100000}, {134, 82000}, {300, 37000}, {600, 18000}, {1200, 9000},
    {2400, 4500}, {4800, 2300},  {9600, 1100}, {14400, 760}, {19200, 570}, {38400, 290},
    {56000, 200}, {57600, 190},  {115200, 95}, {128000, 85}, {256000, 43},
};

}  // namespace

std::string ComPortDevicePath(const ByteString& name) {
  return platform::DevicePath(name);
}

// ---------------------------------------------------------------------------------------
// Construction and destruction

TDaVevureRez::TDaVevureRez(TObject* AOwner, platform::MainLoop& loop,
                           platform::CommPortFactory& ports)
    : fOwner(AOwner), fLoop(loop), fPorts(ports) {
  Platform = platform::OsVersion();
  // The completion signals of the three operation slots belong to the opened port, so
  // there is nothing to prepare for them here.
  WorkThread = std::make_unique<TVoDiviVuvovi>(*this);
}

TDaVevureRez::~TDaVevureRez() {
  ShutdownInProgress = true;
  SwitchPort(false);
  WorkThread->Terminate();
  AwaitWorker([&] { return WorkThreadIsTerminated.load(); }, kEndChecks, kEndCheckPeriod);
  while (!WorkThread->Ended()) AwaitWorker([&] { return WorkThread->Ended(); }, 1, kServeSlice);
  WorkThread.reset();
  WorkThreadTerminated();
  // The operation slots went with the port; the clusters go with the list.
}

int TDaVevureRez::AwaitWriteEnd(platform::CommPort& port) {
  const auto period = static_cast<std::uint32_t>(kIdleCheckPeriod.count());
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + kIdleChecks * kIdleCheckPeriod;
  while (fSendInProgress && std::chrono::steady_clock::now() < end)
    if (port.WaitForSlots({CommSlot::Write}, period) == 0) break;
  return static_cast<int>((std::chrono::steady_clock::now() - start) / kIdleCheckPeriod);
}

void TDaVevureRez::WorkThreadTerminated() {
  WorkThreadIsRunning = false;
}

// Waits at most `checks` x `period` for `done`. During destruction the waits also serve
// hand-overs: every relay does nothing then, and a worker caught in one could not end
// otherwise.
void TDaVevureRez::AwaitWorker(const std::function<bool()>& done, int checks,
                               std::chrono::milliseconds period) {
  for (int i = 0; i < checks && !done(); ++i) {
    if (!ShutdownInProgress) {
      WorkThread->WaitFor(done, period);
      continue;
    }
    const auto end = std::chrono::steady_clock::now() + period;
    while (!done() && std::chrono::steady_clock::now() < end) {
      fLoop.ServeSynchronize();
      WorkThread->WaitFor(done, kServeSlice);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Reports

void TDaVevureRez::ReportError(std::uint32_t Place, std::uint32_t Code, const ByteString& Msg,
                               std::uint8_t Noise) {
  if (ShutdownInProgress || Noise > fErrorNoise || !OnProcessError) return;
  OnProcessError(fOwner, Place, Code, Msg, Noise);
}

std::uint32_t TDaVevureRez::EventBit(TNotifyEvent TDaVevureRez::*Event) {
  for (std::size_t i = 0; i < std::size(kEvents); ++i)
    if (kEvents[i] == Event) return 1u << i;
  return 0;
}

std::uint32_t TDaVevureRez::Listeners() const {
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < std::size(kEvents); ++i)
    if (this->*kEvents[i]) bits |= 1u << i;
  if (OnProcessError && !ShutdownInProgress) {
    for (std::uint8_t noise = 0; noise <= 2; ++noise)
      if (noise <= fErrorNoise) bits |= ReportBit(noise);
  }
  return bits;
}

std::shared_ptr<platform::CommPort> TDaVevureRez::Port() const {
  static const auto closed = std::make_shared<ClosedCommPort>();
  auto port = hComPort.load();
  return port ? port : closed;
}

// ---------------------------------------------------------------------------------------
// Opening and closing

void TDaVevureRez::SwitchPort(bool Activate) {
  if (fActive) {
    ReportError(0x1131, 0, "Meldung: starte Deaktivierung des Ports", kMessage);
    const auto port = Port();
    fClosingListeners = Listeners();
    fClosing = true;
    if (const std::uint32_t error = port->SetCommMask(0))
      ReportError(0x1132, error, "Fehler: beim Deaktivieren der ComPorts", kError);
    fActive = false;
    // A write ends when its bytes have left; the purge below would throw away what is
    // still queued. Waited for here, not through the worker, which cannot collect the
    // write while this runs inside one of its hand-overs.
    const int checks_left = kIdleChecks - AwaitWriteEnd(*port);
    // Inside one of the worker's own hand-overs (a handler that ends the line, as the
    // flasher does at the end of a run) the worker cannot go idle before this returns:
    // waiting would only freeze the program for the whole bound and end in a warning.
    const bool worker_waits_for_us = fInHandOver > 0;
    if (!worker_waits_for_us)
      AwaitWorker([&] { return !WorkThreadIsRunning; }, checks_left, kIdleCheckPeriod);
    fClosing = false;
    if (WorkThreadIsRunning && !worker_waits_for_us)
      ReportError(0x1133, 0, "Warnung: Thread läuft noch", kWarning);
    if (const std::uint32_t error =
            port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
      ReportError(0x1134, error, "Fehler: löschen der Queues", kError);
    if (const std::uint32_t error = port->EscapeCommFunction(CLRDTR))
      ReportError(0x1062, error, "Fehler: DTR löschen", kError);
    if (const std::uint32_t error = port->EscapeCommFunction(CLRRTS))
      ReportError(0x1052, error, "Fehler: RTS löschen", kError);
    fDTRState = false;
    fRTSState = false;
    // The handle is forgotten first, so that the worker takes what follows for the
    // closing it is.
    hComPort.store(nullptr);
    if (const std::uint32_t error = port->CloseHandle())
      ReportError(0x1135, error, "Fehler: Schliessen des Ports", kError);
    // A write completion held back during the closing is handed over now.
    WorkThread->Wake();
  }

  if (Activate) {
    ReportError(0x1136, 0, "Meldung: starte Port wieder", kMessage);
    std::uint32_t error = 0;
    auto port = fPorts.Open(ComPortDevicePath(fComPort), error);
    if (!port) {
      ReportError(0x1138, error, "Fehler: Port Neustart", kError);
      return;
    }
    hComPort.store(port);
    fActive = true;
    if (const std::uint32_t e = port->SetupComm(fRxQueueSize, fTxQueueSize))
      ReportError(0x1137, e, "Fehler: setzen der Queuesize", kError);
    ApplyCommState();
    SetDTRState(true);
    SetRTSState(true);
    SetEventMask();
    WorkThread->Wake();
  }
}

void TDaVevureRez::SetEventMask() {
  if (const std::uint32_t error = Port()->SetCommMask(EV_ALL))
    ReportError(0x1141, error, "Fehler: setzen CommEventMask", kError);
}

void TDaVevureRez::ResetOverlapped(CommSlot Slot) {
  if (const std::uint32_t error = Port()->ResetOverlapped(Slot))
    ReportError(0x1111, error, "Fehler: Resetten eines Overlapped Events", kError);
}

void TDaVevureRez::SetActive(bool Value) {
  if (Value != fActive) SwitchPort(Value);
}

void TDaVevureRez::SetComPort(const ByteString& Value) {
  if (Value == fComPort) return;
  fComPort = Value;
  SwitchPort(fActive);
}

// ---------------------------------------------------------------------------------------
// Line settings

void TDaVevureRez::ApplyCommState() {
  const auto port = Port();
  platform::CommDcb dcb;
  if (const std::uint32_t error = port->GetCommState(dcb)) {
    ReportError(0x1121, error, "Fehler: auslesen DCB von CommState", kError);
    return;
  }
  dcb.BaudRate = fBaudRate;
  std::uint32_t flags = DCB_BINARY;
  if (fParityType != 0) flags |= DCB_PARITY;
  if (fParityErrorReplacement) flags |= DCB_ERROR_CHAR;
  flags |= static_cast<std::uint32_t>(fFlowControl);
  if (fStripNullChars) flags |= DCB_NULL;
  dcb.Flags = flags;
  dcb.Parity = fParityType;
  dcb.ErrorChar = fParityErrorChar;
  dcb.EvtChar = fEventChar;
  dcb.StopBits = fStopBits;
  dcb.ByteSize = fDataBits;
  dcb.XonChar = fXONChar;
  dcb.XoffChar = fXOFFChar;
  dcb.XonLim = static_cast<std::uint16_t>(fRxQueueSize * fXONLimDiv / 100);
  dcb.XoffLim = static_cast<std::uint16_t>(fRxQueueSize * fXOFFLimDiv / 100);
  dcb.EofChar = 0;

  platform::CommTimeouts timeouts;
  port->GetCommTimeouts(timeouts);
  timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (const std::uint32_t error = port->SetCommTimeouts(timeouts))
    ReportError(0x1122, error, "Fehler: setzen von CommTimeout", kError);
  if (const std::uint32_t error = port->SetCommState(dcb))
    ReportError(0x1123, error, "Fehler: beim setzen der DCB-Struktur", kError);
}

void TDaVevureRez::XTODefault() {
  std::uint32_t micros = 1100;
  for (const CharTime& row : kCharTimes)
    if (row.baud <= fBaudRate) micros = row.micros;
  SetRTOCharDelayTime(micros);
  SetWTOCharDelayTime(micros);
}

#define FLASHER_REAPPLYING_SETTER(Name, Type) \
  void TDaVevureRez::Set##Name(Type Value) {  \
    if (Value == f##Name) return;             \
    f##Name = Value;                          \
    if (fActive) ApplyCommState();            \
  }
FLASHER_REAPPLYING_SETTER(ParityType, std::uint8_t)
FLASHER_REAPPLYING_SETTER(ParityErrorChar, char)
FLASHER_REAPPLYING_SETTER(ParityErrorReplacement, bool)
FLASHER_REAPPLYING_SETTER(StopBits, std::uint8_t)
FLASHER_REAPPLYING_SETTER(DataBits, std::uint8_t)
FLASHER_REAPPLYING_SETTER(XONChar, char)
FLASHER_REAPPLYING_SETTER(XOFFChar, char)
FLASHER_REAPPLYING_SETTER(FlowControl, std::int32_t)
FLASHER_REAPPLYING_SETTER(StripNullChars, bool)
FLASHER_REAPPLYING_SETTER(EventChar, char)
#undef FLASHER_REAPPLYING_SETTER

void TDaVevureRez::SetBaudRate(std::uint32_t Value) {
  if (Value == fBaudRate) return;
  fBaudRate = Value;
  if (fXTOAuto) XTODefault();
  if (fActive) ApplyCommState();
}

void TDaVevureRez::SetXONLimDiv(std::uint8_t Value) {
  if (Value == fXONLimDiv) return;
  if (Value > 100) {
    ReportError(0x1011, Value, "Warnung XONLimDiv wird auf 100 gesetzt", kWarning);
    Value = 100;
  }
  fXONLimDiv = Value;
  if (fActive) ApplyCommState();
}

void TDaVevureRez::SetXOFFLimDiv(std::uint8_t Value) {
  if (Value == fXOFFLimDiv) return;
  if (Value > 100) {
    ReportError(0x1021, Value, "Warnung XOFFLimDiv wird auf 100 gesetzt", kWarning);
    Value = 100;
  }
  fXOFFLimDiv = Value;
  if (fActive) ApplyCommState();
}

void TDaVevureRez::SetRTOCharDelayTime(std::uint32_t Value) {
  if (Value != fRTOCharDelayTime) fRTOCharDelayTime = Value;
}

void TDaVevureRez::SetRTOExtraDelayTime(std::uint32_t Value) {
  if (Value != fRTOExtraDelayTime) fRTOExtraDelayTime = Value;
}

void TDaVevureRez::SetWTOCharDelayTime(std::uint32_t Value) {
  if (Value == fWTOCharDelayTime) return;
  fWTOCharDelayTime = Value;
  if (fActive) ApplyCommState();
}

void TDaVevureRez::SetWTOExtraDelayTime(std::uint32_t Value) {
  if (Value != fWTOExtraDelayTime) fWTOExtraDelayTime = Value;
}

void TDaVevureRez::SetClusterSize(std::uint32_t Value) {
  fClusterSize = Value;
}

void TDaVevureRez::SetRxQueueSize(std::uint32_t Value) {
  if (Value == fRxQueueSize) return;
  fRxQueueSize = Value;
  if (const std::uint32_t error = Port()->SetupComm(fRxQueueSize, fTxQueueSize))
    ReportError(0x1031, error, "Fehler: Kann nicht Queuesize setzen", kError);
}

void TDaVevureRez::SetTxQueueSize(std::uint32_t Value) {
  if (Value == fTxQueueSize) return;
  fTxQueueSize = Value;
  if (const std::uint32_t error = Port()->SetupComm(fRxQueueSize, fTxQueueSize))
    ReportError(0x1041, error, "Fehler: Kann nicht Queuesize setzen", kError);
}

void TDaVevureRez::SetXTOAuto(bool Value) {
  if (Value == fXTOAuto) return;
  fXTOAuto = Value;
  if (fXTOAuto) XTODefault();
}

void TDaVevureRez::SetErrorNoise(std::uint8_t Value) {
  fErrorNoise = Value;
}

void TDaVevureRez::SetReadRequest(bool Value) {
  fReadRequest = Value;
}

// ---------------------------------------------------------------------------------------
// Modem control outputs

void TDaVevureRez::SetRTSState(bool Value) {
  if (!fActive) return;
  if (const std::uint32_t error = Port()->EscapeCommFunction(Value ? SETRTS : CLRRTS)) {
    if (Value)
      ReportError(0x1051, error, "Fehler: RTS setzen", kError);
    else
      ReportError(0x1052, error, "Fehler: RTS löschen", kError);
  }
  fRTSState = Value;
}

void TDaVevureRez::SetDTRState(bool Value) {
  if (!fActive) return;
  if (const std::uint32_t error = Port()->EscapeCommFunction(Value ? SETDTR : CLRDTR)) {
    if (Value)
      ReportError(0x1061, error, "Fehler: DTR setzen", kError);
    else
      ReportError(0x1062, error, "Fehler: DTR löschen", kError);
  }
  fDTRState = Value;
}

void TDaVevureRez::SetBREAKState(bool Value) {
  if (!fActive) return;
  const auto port = Port();
  if (Value) {
    if (const std::uint32_t error = port->SetCommBreak())
      ReportError(0x1071, error, "Fehler: BREAK setzen", kError);
  } else {
    if (const std::uint32_t error = port->ClearCommBreak())
      ReportError(0x1072, error, "Fehler: BREAK löschen", kError);
  }
  fBREAKState = Value;
}

// ---------------------------------------------------------------------------------------
// Receive queue

TAxSerialCluster* TDaVevureRez::Head() {
  return RxDClusterList.empty() ? nullptr : RxDClusterList.front().get();
}

void TDaVevureRez::DropHead() {
  RxDClusterList.pop_front();
}

std::uint32_t TDaVevureRez::NextClusterSize() {
  const TAxSerialCluster* head = Head();
  return head ? head->GetSize() : 0;
}

std::uint32_t TDaVevureRez::NextClusterCCError() {
  const TAxSerialCluster* head = Head();
  return head ? head->GetCCError() : kNoCluster;
}

ByteString TDaVevureRez::ReadNextCluster(std::uint32_t& Size, std::uint32_t& CCError) {
  TAxSerialCluster* head = Head();
  if (!head) {
    Size = 0;
    CCError = kNoCluster;
    return {};
  }
  CCError = head->GetCCError();
  Size = head->GetSize();
  ByteString data = head->GetDataAsString();
  DropHead();
  return data;
}

ByteString TDaVevureRez::ReadNextClusterAsString() {
  std::uint32_t size = 0;
  std::uint32_t error = 0;
  return ReadNextCluster(size, error);
}

char* TDaVevureRez::ReadNextClusterAsPChar(char* Dest) {
  if (!Dest) return nullptr;
  TAxSerialCluster* head = Head();
  if (!head) return nullptr;
  head->GetDataAsPChar(Dest);
  DropHead();
  return Dest;
}

ByteString TDaVevureRez::ReadNextClusterAsHexString() {
  TAxSerialCluster* head = Head();
  if (!head) return {};
  ByteString hex = head->GetDataAsHexString();
  DropHead();
  return hex;
}

void TDaVevureRez::ClearRxDQueue() {
  if (!fActive) return;
  if (const std::uint32_t error = Port()->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR))
    ReportError(0x1161, error, "Fehler Leeren RxD Queue", kError);
}

void TDaVevureRez::ClearTxDQueue() {
  if (!fActive) return;
  if (const std::uint32_t error = Port()->PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR))
    ReportError(0x1171, error, "Fehler Leeren TxD Queue", kError);
}

// ---------------------------------------------------------------------------------------
// Send path

void TDaVevureRez::SendData(const void* Data, std::uint32_t Size) {
  if (fSendInProgress) {
    ReportError(0x1151, 0, "Meldung: kann keine Daten senden, da SendInProgress gesetzt ist",
                kMessage);
    return;
  }
  const auto port = Port();
  platform::CommTimeouts timeouts;
  port->GetCommTimeouts(timeouts);
  timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = Size * fWTOCharDelayTime / 1000 + fWTOExtraDelayTime;
  if (const std::uint32_t error = port->SetCommTimeouts(timeouts))
    ReportError(0x1152, error, "Fehler: setzen CommTimeout", kError);
  BytesToWrite = Size;

  std::uint32_t written = 0;
  const std::uint32_t token = fWriteToken + 1;
  const std::uint32_t result = port->WriteFile(Data, Size, written);
  fWrittenBytes = written;
  if (result == 0) {
    fWriteToken = token;
    fWriteDoneToken = token;
    if (OnWriteDone) OnWriteDone(this);
  } else if (result == platform::kErrorIoPending) {
    LastErr = static_cast<std::int32_t>(platform::kErrorIoPending);
    WriteStartTime = fLoop.TickCount();
    fWriteToken = token;
    fWritePort.store(hComPort.load());
    fSendInProgress = true;
  } else {
    LastErr = static_cast<std::int32_t>(result);
    ReportError(0x1153, result, "Fehler: Datenschreiben", kError);
    ResetOverlapped(CommSlot::Write);
    fSendInProgress = false;
  }
}

void TDaVevureRez::SendString(const ByteString& S) {
  if (S.empty()) return;
  SendData(S.data(), static_cast<std::uint32_t>(S.size()));
}
