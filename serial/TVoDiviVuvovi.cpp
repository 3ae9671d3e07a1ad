#include "serial/TVoDiviVuvovi.h"

#include <algorithm>

#include "platform/System.h"
#include "serial/TDaVevureRez.h"

using namespace platform::comm;
using platform::CommSlot;

namespace {
constexpr std::uint32_t kWaitBoundMs = 75;
constexpr auto kIdlePause = std::chrono::milliseconds(200);
// Line errors that make the next decision read at once: CE_RXOVER, CE_OVERRUN,
// CE_RXPARITY, CE_FRAME, CE_BREAK.
constexpr std::uint32_t kReceiveErrors = 0x1F;
}  // namespace

TVoDiviVuvovi::TVoDiviVuvovi(TDaVevureRez& AOwner) : Owner(AOwner) {
  thread_ = std::thread([this] { Execute(); });
}

TVoDiviVuvovi::~TVoDiviVuvovi() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

void TVoDiviVuvovi::Terminate() {
  terminate_ = true;
  Wake();
}

void TVoDiviVuvovi::Wake() {
  std::lock_guard lock(mutex_);
  cv_.notify_all();
}

void TVoDiviVuvovi::Signal() {
  std::lock_guard lock(mutex_);
  cv_.notify_all();
}

bool TVoDiviVuvovi::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, done);
}

// ---------------------------------------------------------------------------------------
// The loop

void TVoDiviVuvovi::Execute() {
  // Keeping up with the driver's queue matters more than anything else this thread does.
  platform::RaiseThreadPriority();
  WaitForComEvent = false;
  WaitForReadEvent = false;
  ActiveMode = Owner.fActive;
  TerminateMode = terminate_;
  while (!TerminateMode) {
    if (ActiveMode) {
      ActivePass();
    } else {
      Owner.WorkThreadIsRunning = false;
      Signal();
      HandOverHeldWriteDone();
      {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, kIdlePause, [&] {
          return Owner.fActive || terminate_ || (WriteDoneHeld && !Owner.fClosing);
        });
      }
      ActiveMode = Owner.fActive;
    }
    if (terminate_ && !ActiveMode) TerminateMode = true;
  }
  port_.reset();
  Owner.WorkThreadIsTerminated = true;
  Signal();
  std::lock_guard lock(mutex_);
  ended_ = true;
  cv_.notify_all();
}

void TVoDiviVuvovi::ActivePass() {
  Owner.WorkThreadIsRunning = true;
  HandOverHeldWriteDone();
  FollowPort();
  dispatched_ = false;
  read_waiting_ = false;

  // A handler run in a hand-over may close the port and open it again, and send at once:
  // the rest of the pass works on the port that is open now.
  PollComState();
  FollowPort();
  CheckWrite();
  FollowPort();
  if (port_ && !WaitForReadEvent && Owner.fActive) StartRead();
  FollowPort();
  if (port_ && !WaitForComEvent && Owner.fActive) StartWaitComEvent();

  const std::uint32_t limit = WaitLimit();
  if (port_ && WaitForReadEvent && WaitForComEvent) {
    RetCode = port_->WaitForSlots({CommSlot::Read, CommSlot::Status}, limit);
    PollComState();
    if (RetCode == 0) {
      FinishRead();
    } else if (RetCode == 1) {
      FinishComEvent();
    } else if (RetCode != platform::kWaitTimeout) {
      if (PortIsCurrent()) SetError(0x61, RetCode, "Fehler: auslesen Overlapped Result", 0);
      Forget(CommSlot::Read);
      Forget(CommSlot::Status);
    }
  } else if (port_ && WaitForReadEvent) {
    RetCode = port_->WaitForSlots({CommSlot::Read}, limit);
    PollComState();
    if (RetCode == 0) {
      FinishRead();
    } else if (RetCode != platform::kWaitTimeout) {
      if (PortIsCurrent()) SetError(0x62, RetCode, "Fehler: auslesen Overlapped Result", 0);
      Forget(CommSlot::Read);
    }
  } else if (port_ && WaitForComEvent) {
    RetCode = port_->WaitForSlots({CommSlot::Status}, limit);
    PollComState();
    if (RetCode == 0) {
      FinishComEvent();
    } else if (RetCode != platform::kWaitTimeout) {
      if (PortIsCurrent()) SetError(0x63, RetCode, "Fehler: auslesen Overlapped Result", 0);
      Forget(CommSlot::Status);
    }
  } else if (!dispatched_) {
    // Nothing outstanding and nothing happened (an event wait that cannot start, or a
    // write still ending while the port closes): pause rather than spin.
    Pause(limit);
  }

  if (!Owner.fActive && !WaitForReadEvent && !WaitForComEvent && !Owner.fSendInProgress)
    ActiveMode = false;
}

std::uint32_t TVoDiviVuvovi::WaitLimit() const {
  if (!read_waiting_) return kWaitBoundMs;
  const std::uint32_t elapsed = Owner.fLoop.TickCount() - StartTime;
  if (elapsed >= read_due_) return 0;
  return std::min(kWaitBoundMs, read_due_ - elapsed);
}

void TVoDiviVuvovi::Pause(std::uint32_t ms) {
  if (port_) {
    port_->WaitForSlots({}, ms);
    return;
  }
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return terminate_.load(); });
}

void TVoDiviVuvovi::FollowPort() {
  auto current = Owner.hComPort.load();
  if (current == port_) return;
  // Operations outstanding on a port that has been closed ended with it.
  WaitForReadEvent = false;
  WaitForComEvent = false;
  port_ = std::move(current);
  ComStatus = {};  // the previous port's queue says nothing about this one
  // Bytes that are already waiting at the first poll of a newly opened port have waited
  // since the opening, not since whenever the previous port was last found empty.
  StartTime = Owner.fLoop.TickCount();
  RxErrors = 0;
  PollError = 0;
}

bool TVoDiviVuvovi::PortIsCurrent() const {
  return port_ && Owner.hComPort.load() == port_;
}

// ---------------------------------------------------------------------------------------
// Status, reads and events

void TVoDiviVuvovi::PollComState() {
  if (!PortIsCurrent()) return;
  const std::uint32_t modem_error = port_->GetCommModemStatus(ModemState);
  if (modem_error) {
    ReportPollFailure(0x51, modem_error, "Fehler: holen des Modemstatus");
  } else {
    Owner.fModemState = ModemState;
  }
  if (const std::uint32_t error = port_->ClearCommError(ComErrorCode, ComStatus)) {
    ReportPollFailure(0x52, error, "Fehler: ClearCommError");
    return;
  }
  if (!modem_error) PollError = 0;
  RxErrors |= ComErrorCode;
  if (ComErrorCode == Owner.fComError && ComStatus.Flags == Owner.fComStateFlags &&
      ComStatus.cbInQue == Owner.fComStateInQueue && ComStatus.cbOutQue == Owner.fComStateOutQueue)
    return;
  Owner.fComError = ComErrorCode;
  Owner.fComStateFlags = ComStatus.Flags;
  Owner.fComStateInQueue = ComStatus.cbInQue;
  Owner.fComStateOutQueue = ComStatus.cbOutQue;
  HandOverEvent(&TDaVevureRez::OnComStat);
}

void TVoDiviVuvovi::StartRead() {
  const std::uint32_t now = Owner.fLoop.TickCount();
  if (ComStatus.cbInQue == 0) {
    StartTime = now;
    RxErrors = 0;
    return;
  }
  TickTime = now;
  // 32-bit arithmetic throughout; comparing whole milliseconds with the integer quotient
  // decides as the exact quotient would.
  const std::uint32_t limit =
      ComStatus.cbInQue * Owner.fRTOCharDelayTime / 1000 + Owner.fRTOExtraDelayTime;
  if (!Owner.fReadRequest && ComStatus.cbInQue < Owner.fClusterSize &&
      TickTime - StartTime <= limit && (RxErrors & kReceiveErrors) == 0) {
    read_waiting_ = true;
    read_due_ = limit + 1;
    return;
  }

  Buffer.assign(ComStatus.cbInQue, '\0');
  const std::uint32_t result =
      port_->ReadFile(Buffer.data(), static_cast<std::uint32_t>(Buffer.size()), BytesRead);
  if (result == 0) {
    Owner.fReadRequest = false;
    MakeCluster();
    Buffer.clear();
    StartTime = Owner.fLoop.TickCount();
  } else if (result == platform::kErrorIoPending) {
    WaitForReadEvent = true;
  } else {
    Owner.fReadRequest = false;
    Buffer.clear();
    if (PortIsCurrent()) SetError(0x211, result, "Fehler: Daten lesen", 0);
  }
}

void TVoDiviVuvovi::StartWaitComEvent() {
  const std::uint32_t result = port_->WaitCommEvent(ComEventFlags);
  if (result == 0) {
    DispatchComEvents();
    dispatched_ = ComEventFlags != 0;
  } else if (result == platform::kErrorIoPending) {
    WaitForComEvent = true;
  } else if (PortIsCurrent()) {
    SetError(0x31, result, "Fehler: Aufruf WaitComEvent", 0);
  }
}

void TVoDiviVuvovi::FinishRead() {
  const std::uint32_t result = port_->GetOverlappedResult(CommSlot::Read, BytesRead);
  if (result == 0) {
    MakeCluster();
    StartTime = Owner.fLoop.TickCount();
  } else {
    RetCode = result;
    if (PortIsCurrent()) {
      if (result == platform::kErrorOperationAborted)
        SetError(0x41, result, "Fehler: Lesen abgebrochen", 0);
      else
        SetError(0x42, result, "Warnung: Lesen von OverlappedResult", 1);
    }
  }
  Buffer.clear();
  WaitForReadEvent = false;
}

void TVoDiviVuvovi::FinishComEvent() {
  std::uint32_t mask = 0;
  ComEventFlags = port_->GetOverlappedResult(CommSlot::Status, mask) == 0 ? mask : 0;
  DispatchComEvents();
  WaitForComEvent = false;
}

void TVoDiviVuvovi::DispatchComEvents() {
  if (Owner.ShutdownInProgress) return;
  Owner.fComEvent = ComEventFlags;
  const std::uint32_t events = ComEventFlags;
  if (events & EV_BREAK) HandOverEvent(&TDaVevureRez::OnBreakEvent);
  if (events & EV_CTS) {
    Owner.fCTSState = (ModemState & MS_CTS_ON) != 0;
    HandOverEvent(&TDaVevureRez::OnCTSEvent);
  }
  if (events & EV_DSR) {
    Owner.fDSRState = (ModemState & MS_DSR_ON) != 0;
    HandOverEvent(&TDaVevureRez::OnDSREvent);
  }
  if (events & EV_ERR) HandOverEvent(&TDaVevureRez::OnLineErrorEvent);
  if (events & EV_RING) {
    Owner.fRingState = (ModemState & MS_RING_ON) != 0;
    HandOverEvent(&TDaVevureRez::OnRingEvent);
  }
  if (events & EV_RLSD) {
    Owner.fRLSDState = (ModemState & MS_RLSD_ON) != 0;
    HandOverEvent(&TDaVevureRez::OnRLSDEvent);
  }
  if (events & EV_RXCHAR) HandOverEvent(&TDaVevureRez::OnRxCharEvent);
  if (events & EV_RXFLAG) HandOverEvent(&TDaVevureRez::OnRxEventCharEvent);
  if (events & EV_TXEMPTY) HandOverEvent(&TDaVevureRez::OnTxQueueEmptyEvent);
  if (events != 0) HandOverEvent(&TDaVevureRez::OnComEvent);
}

void TVoDiviVuvovi::MakeCluster() {
  if (Owner.ShutdownInProgress) return;
  const std::size_t size = std::min<std::size_t>(BytesRead, Buffer.size());
  Cluster = std::make_unique<TAxSerialCluster>(ByteString(Buffer.data(), size), RxErrors);
  RxErrors = 0;
  HandOver(&TVoDiviVuvovi::SyncRxCluster);
  Cluster.reset();
}

// ---------------------------------------------------------------------------------------
// The outstanding write

void TVoDiviVuvovi::CheckWrite() {
  if (!Owner.fSendInProgress) return;
  // Taken while the write is still outstanding: once the send state is released, the main
  // thread may start the next write.
  DoneToken = Owner.fWriteToken;
  // The write's own port tells how it ended, also after it was closed (closing aborted
  // the write unless it had drained); without one the write is lost.
  if (!write_port_) write_port_ = Owner.fWritePort.load();
  const auto port = write_port_ ? write_port_ : port_;
  const std::uint32_t result = port ? port->GetOverlappedResult(CommSlot::Write, WrittenBytes)
                                    : platform::kErrorOperationAborted;
  if (!port) WrittenBytes = 0;
  if (result == 0) {
    Owner.fWrittenBytes = WrittenBytes;
    EndWrite();
    if (WrittenBytes != Owner.BytesToWrite) SetError(0x11, RetCode, "Fehler: Schreiben Timeout", 0);
    HandOverWriteDone();
  } else if (result == platform::kErrorIoIncomplete) {
    // still running
  } else if (result == platform::kErrorIoPending) {
    TickTime = Owner.fLoop.TickCount();
    if (TickTime - Owner.WriteStartTime >
        WrittenBytes * Owner.fWTOCharDelayTime / 1000 + Owner.fWTOExtraDelayTime) {
      Owner.fWrittenBytes = WrittenBytes;
      // The slot is reset before the send state is released, so that a write the main
      // thread starts right after cannot be the one reset.
      ResetWriteSlot();
      EndWrite();
      SetError(0x12, platform::kErrorIoPending, "Fehler: Schreiben Timeout", 0);
      HandOverWriteDone();
    }
  } else {
    ResetWriteSlot();
    EndWrite();
    SetError(0x25E6, result, "Error getting Overlapped Result", 0);
    HandOverWriteDone();
  }
}

// Releases the send state, and the port of the write before it: the next write may
// follow at once.
void TVoDiviVuvovi::EndWrite() {
  write_port_.reset();
  Owner.fWritePort.store(nullptr);
  Owner.fSendInProgress = false;
}

void TVoDiviVuvovi::ResetWriteSlot() {
  const auto port = write_port_ ? write_port_ : port_;
  if (!port) return;
  if (const std::uint32_t error = port->ResetOverlapped(CommSlot::Write))
    SetError(0x1111, error, "Fehler: Resetten eines Overlapped Events", 0);
}

void TVoDiviVuvovi::ResetSlot(CommSlot slot) {
  if (!port_) return;
  if (const std::uint32_t error = port_->ResetOverlapped(slot))
    SetError(0x1111, error, "Fehler: Resetten eines Overlapped Events", 0);
}

// An operation given up after a failed wait is also abandoned at the port; left running
// there, it would make every new start of its kind fail.
void TVoDiviVuvovi::Forget(CommSlot slot) {
  ResetSlot(slot);
  if (slot == CommSlot::Read) {
    WaitForReadEvent = false;
    Buffer.clear();
  } else {
    WaitForComEvent = false;
  }
}

// ---------------------------------------------------------------------------------------
// Hand-overs

// A failure the previous poll already reported is not reported again, and while the port
// is being closed failures of the status poll belong to the closing: reporting them would
// keep the worker in a hand-over that the closing main thread does not serve.
void TVoDiviVuvovi::ReportPollFailure(std::uint32_t APlace, std::uint32_t ACode,
                                      const ByteString& AMsg) {
  if (ACode == PollError) return;
  PollError = ACode;
  if (PortIsCurrent() && Owner.fActive) SetError(APlace, ACode, AMsg, 0);
}

void TVoDiviVuvovi::SetError(std::uint32_t APlace, std::uint32_t ACode, const ByteString& AMsg,
                             std::uint8_t ANoise) {
  if (Owner.Unheard(TDaVevureRez::ReportBit(ANoise))) return;
  Place = APlace;
  Code = ACode;
  Msg = AMsg;
  Noise = ANoise;
  HandOver(&TVoDiviVuvovi::SyncReportError);
}

TVoDiviVuvovi::HandOverScope::HandOverScope(TDaVevureRez& owner) : owner_(owner) {
  ++owner_.fInHandOver;
}

TVoDiviVuvovi::HandOverScope::~HandOverScope() {
  --owner_.fInHandOver;
}

void TVoDiviVuvovi::HandOver(void (TVoDiviVuvovi::*Relay)()) {
  // During destruction every relay would do nothing.
  if (Owner.ShutdownInProgress) return;
  Owner.fLoop.Synchronize([this, Relay] {
    const HandOverScope scope(Owner);
    (this->*Relay)();
  });
}

// Whether a handler is assigned is looked at on the main thread, which alone assigns them.
void TVoDiviVuvovi::HandOverEvent(TNotifyEvent TDaVevureRez::*Event) {
  if (Owner.ShutdownInProgress || Owner.Unheard(TDaVevureRez::EventBit(Event))) return;
  Owner.fLoop.Synchronize([this, Event] {
    const HandOverScope scope(Owner);
    const TNotifyEvent& handler = Owner.*Event;
    if (handler && !Owner.ShutdownInProgress) handler(&Owner);
  });
}

void TVoDiviVuvovi::HandOverWriteDone() {
  if (Owner.fClosing) {
    WriteDoneHeld = true;
    return;
  }
  if (Owner.Unheard(TDaVevureRez::EventBit(&TDaVevureRez::OnWriteDone))) return;
  HandOver(&TVoDiviVuvovi::SyncWriteDone);
}

void TVoDiviVuvovi::HandOverHeldWriteDone() {
  if (!WriteDoneHeld || Owner.fClosing) return;
  WriteDoneHeld = false;
  HandOverWriteDone();
}

void TVoDiviVuvovi::SyncReportError() {
  Owner.ReportError(Place, Code, Msg, Noise);
}

void TVoDiviVuvovi::SyncRxCluster() {
  if (Owner.ShutdownInProgress) return;
  Owner.RxDClusterList.push_back(std::move(Cluster));
  if (Owner.OnRxClusterEvent) Owner.OnRxClusterEvent(&Owner);
}

void TVoDiviVuvovi::SyncWriteDone() {
  Owner.fWriteDoneToken = DoneToken;
  if (Owner.OnWriteDone && !Owner.ShutdownInProgress) Owner.OnWriteDone(&Owner);
}
