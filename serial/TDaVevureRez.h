// The serial port component: owns one serial port, its line settings and modem control
// outputs, a worker thread (TVoDiviVuvovi) that polls the port and cuts the received bytes
// into clusters, the queue of those clusters and the send path. Every failure and every
// notable step is reported through OnProcessError, filtered by ErrorNoise.
//
// Threads: every property, operation and event belongs to the main thread of the injected
// main loop; the worker hands everything it finds to that thread with Synchronize and waits
// until it has run. The main loop and the port factory must outlive the component. Closing
// the port and destroying the component wait for the worker within fixed bounds (20 x 75 ms
// and 5 x 250 ms); a worker that waits for a hand-over meanwhile makes them run out.
//
// Port names: opened as ComPortDevicePath() makes them. On Linux an absolute path is
// opened as it is, whole, a bare name below /dev/ ("ttyUSB0"); on Windows the name in the
// device namespace ("\\.\COM3"). Of a bare name at most the first 75 characters count.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/CommPort.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "serial/TAxSerialCluster.h"
#include "util/ByteString.h"

class TVoDiviVuvovi;

// The device path that the port name `name` opens (see Port names above).
std::string ComPortDevicePath(const ByteString& name);

// Hold flags of the last status poll.
enum class TComStateFlag : std::uint8_t {
  fCtlHold = 0x01,
  fDsrHold = 0x02,
  fRlsHold = 0x04,
  fXoffHold = 0x08,
  fXOffSent = 0x10,
  fEof = 0x20,
  fTxim = 0x40,
};

// The one-byte set of hold flags.
class TComStateFlags {
 public:
  constexpr TComStateFlags(std::uint8_t bits = 0) : bits_(bits) {}
  constexpr bool Contains(TComStateFlag flag) const {
    return (bits_ & static_cast<std::uint8_t>(flag)) != 0;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint8_t Bits() const { return bits_; }
  bool operator==(const TComStateFlags&) const = default;

 private:
  std::uint8_t bits_;
};

class TDaVevureRez : public TObject {
 public:
  // `AOwner` is the Sender of every error report. The worker thread starts at once and
  // idles until the port is opened.
  TDaVevureRez(TObject* AOwner, platform::MainLoop& loop,
               platform::CommPortFactory& ports = platform::SystemCommPorts());
  // Closes the port and ends the worker; reports nothing and raises no event.
  ~TDaVevureRez() override;
  TDaVevureRez(const TDaVevureRez&) = delete;
  TDaVevureRez& operator=(const TDaVevureRez&) = delete;

  // --- Properties --------------------------------------------------------------------
  bool Active() const { return fActive; }
  void SetActive(bool Value);
  const ByteString& ComPort() const { return fComPort; }
  void SetComPort(const ByteString& Value);
  std::uint32_t BaudRate() const { return fBaudRate; }
  void SetBaudRate(std::uint32_t Value);
  // 0 none, 1 odd, 2 even, 3 mark, 4 space.
  std::uint8_t ParityType() const { return fParityType; }
  void SetParityType(std::uint8_t Value);
  char ParityErrorChar() const { return fParityErrorChar; }
  void SetParityErrorChar(char Value);
  bool ParityErrorReplacement() const { return fParityErrorReplacement; }
  void SetParityErrorReplacement(bool Value);
  // 0 one, 1 one and a half, 2 two stop bits.
  std::uint8_t StopBits() const { return fStopBits; }
  void SetStopBits(std::uint8_t Value);
  std::uint8_t DataBits() const { return fDataBits; }
  void SetDataBits(std::uint8_t Value);
  char XONChar() const { return fXONChar; }
  void SetXONChar(char Value);
  char XOFFChar() const { return fXOFFChar; }
  void SetXOFFChar(char Value);
  // Percent of RxQueueSize; above 100 is reported and replaced by 100.
  std::uint8_t XONLimDiv() const { return fXONLimDiv; }
  void SetXONLimDiv(std::uint8_t Value);
  std::uint8_t XOFFLimDiv() const { return fXOFFLimDiv; }
  void SetXOFFLimDiv(std::uint8_t Value);
  // Flow-control bits of the line description: 0 none, 896 XOn-XOff, 8196 RTS-CTS,
  // 40 DSR-DTR, 4240 DTR and RTS raised; any other value is passed on unchanged.
  std::int32_t FlowControl() const { return fFlowControl; }
  void SetFlowControl(std::int32_t Value);
  bool StripNullChars() const { return fStripNullChars; }
  void SetStripNullChars(bool Value);
  char EventChar() const { return fEventChar; }
  void SetEventChar(char Value);
  // Microseconds per character and extra milliseconds, for receiving and sending.
  std::uint32_t RTOCharDelayTime() const { return fRTOCharDelayTime; }
  void SetRTOCharDelayTime(std::uint32_t Value);
  std::uint32_t RTOExtraDelayTime() const { return fRTOExtraDelayTime; }
  void SetRTOExtraDelayTime(std::uint32_t Value);
  std::uint32_t WTOCharDelayTime() const { return fWTOCharDelayTime; }
  void SetWTOCharDelayTime(std::uint32_t Value);
  std::uint32_t WTOExtraDelayTime() const { return fWTOExtraDelayTime; }
  void SetWTOExtraDelayTime(std::uint32_t Value);
  // Receive threshold in bytes: a waiting block of this size is cut at once.
  std::uint32_t ClusterSize() const { return fClusterSize; }
  void SetClusterSize(std::uint32_t Value);
  std::uint32_t RxQueueSize() const { return fRxQueueSize; }
  void SetRxQueueSize(std::uint32_t Value);
  std::uint32_t TxQueueSize() const { return fTxQueueSize; }
  void SetTxQueueSize(std::uint32_t Value);
  // The per-character times follow the baud rate.
  bool XTOAuto() const { return fXTOAuto; }
  void SetXTOAuto(bool Value);
  // Modem control outputs; setting them acts only while the port is open.
  bool RTSState() const { return fRTSState; }
  void SetRTSState(bool Value);
  bool DTRState() const { return fDTRState; }
  void SetDTRState(bool Value);
  bool BREAKState() const { return fBREAKState; }
  void SetBREAKState(bool Value);
  // Input lines as of their last change event.
  bool CTSState() const { return fCTSState; }
  bool DSRState() const { return fDSRState; }
  bool RLSDState() const { return fRLSDState; }
  bool RingState() const { return fRingState; }
  // Report threshold: a report passes when its level is at most this (0 errors only,
  // 1 also warnings, 2 and more everything).
  std::uint8_t ErrorNoise() const { return fErrorNoise; }
  void SetErrorNoise(std::uint8_t Value);
  // Read whatever is waiting at the next poll.
  bool ReadRequest() const { return fReadRequest; }
  void SetReadRequest(bool Value);
  bool SendInProgress() const { return fSendInProgress; }
  std::uint32_t ComError() const { return fComError; }
  TComStateFlags ComStateFlags() const { return TComStateFlags(fComStateFlags); }
  std::uint32_t ComStateInQueue() const { return fComStateInQueue; }
  std::uint32_t ComStateOutQueue() const { return fComStateOutQueue; }
  std::uint32_t ModemState() const { return fModemState; }
  std::uint32_t CommEvent() const { return fComEvent; }
  std::uint32_t WrittenBytes() const { return fWrittenBytes; }
  // Each write SendData accepts (done at once or outstanding) gets the next token:
  // WriteToken() + 1 at the call. WriteToken() is the token of the last accepted write, so
  // an unchanged value after SendData means it was refused; WriteDoneToken() is the token of
  // the write whose OnWriteDone runs (or ran last), which tells a late completion of an
  // earlier write from the completion of the current one.
  std::uint32_t WriteToken() const { return fWriteToken; }
  std::uint32_t WriteDoneToken() const { return fWriteDoneToken; }

  // --- Operations ----------------------------------------------------------------------
  // Sets both per-character times from the baud rate.
  void XTODefault();

  // One write at a time: while a write is outstanding further data are refused (reported,
  // not queued). The bytes are copied before the call returns. OnWriteDone follows every
  // write that started; for a write that completes at once, before SendData returns.
  void SendData(const void* Data, std::uint32_t Size);
  void SendString(const ByteString& S);

  // The received clusters, oldest first.
  std::uint32_t NextClusterSize();
  // 0xFFFFFFFF when the queue is empty.
  std::uint32_t NextClusterCCError();
  // Removes the oldest cluster and returns its bytes. An empty queue gives Size 0 and
  // CCError 0xFFFFFFFF, which tells it apart from an empty cluster carrying line errors.
  ByteString ReadNextCluster(std::uint32_t& Size, std::uint32_t& CCError);
  ByteString ReadNextClusterAsString();
  // Copies the oldest cluster and a closing zero byte to Dest (NextClusterSize() + 1
  // bytes) and removes it; null for an empty queue, and at once for a null Dest.
  char* ReadNextClusterAsPChar(char* Dest);
  ByteString ReadNextClusterAsHexString();
  // Purge the driver's queues (only while the port is open); clusters stay queued.
  void ClearRxDQueue();
  void ClearTxDQueue();

  // --- Settings ------------------------------------------------------------------------
  // The store that WriteSettings and ReadSettings use; null (the default) is the current
  // user's store, platform::UserRegistry(). The store must outlive its use here.
  void SetRegistry(platform::Registry* Registry) { fRegistry = Registry; }
  // Writes the 27 settings as strings under <Regkey>\<RegSubKey>, then reports 0x1201; a
  // failing store ends the writing with 0x1202 (what was written stays).
  void WriteSettings(const std::string& Regkey, const std::string& RegSubKey);
  // Reads the 27 settings back, a missing one as its default, and reports 0x1211. Only
  // ParityErrorChar and Active (the last) go through their setters; the others take effect
  // at the next opening. A failing store or a value that is not a string ends the reading
  // with 0x1212; what was read before stays applied.
  void ReadSettings(const std::string& Regkey, const std::string& RegSubKey);
  // Shows the settings dialog modally. The dialog is Qt code in a library of its own, which
  // puts its runner into SettingsDialog (InstallDaDudaroDevIza); until then this does
  // nothing. That keeps this component free of Qt.
  void ExecuteDlg();
  static inline std::function<void(TDaVevureRez&)> SettingsDialog;

  // --- Events (main thread; Sender is this component, except for OnProcessError) ------
  TNotifyEvent OnTxQueueEmptyEvent;
  TNotifyEvent OnComEvent;
  TNotifyEvent OnComStat;
  TNotifyEvent OnBreakEvent;
  TNotifyEvent OnCTSEvent;
  TNotifyEvent OnDSREvent;
  TNotifyEvent OnLineErrorEvent;
  TNotifyEvent OnRingEvent;
  TNotifyEvent OnRLSDEvent;
  TNotifyEvent OnRxClusterEvent;
  TNotifyEvent OnRxCharEvent;
  TNotifyEvent OnRxEventCharEvent;
  TNotifyEvent OnWriteDone;
  // Sender is the owner given at construction.
  TNotifyErrorEvent OnProcessError;

  // --- Worker state, for diagnostics and tests -----------------------------------------
  bool IsWorkThreadRunning() const { return WorkThreadIsRunning; }
  bool IsWorkThreadTerminated() const { return WorkThreadIsTerminated; }
  bool IsShutdownInProgress() const { return ShutdownInProgress; }

 private:
  friend class TVoDiviVuvovi;

  static constexpr std::uint32_t kNoCluster = 0xFFFFFFFF;
  // The event slots, in order; bit i of a handler mask stands for kEvents[i].
  static constexpr TNotifyEvent TDaVevureRez::*kEvents[] = {
      &TDaVevureRez::OnTxQueueEmptyEvent, &TDaVevureRez::OnComEvent,
      &TDaVevureRez::OnComStat,           &TDaVevureRez::OnBreakEvent,
      &TDaVevureRez::OnCTSEvent,          &TDaVevureRez::OnDSREvent,
      &TDaVevureRez::OnLineErrorEvent,    &TDaVevureRez::OnRingEvent,
      &TDaVevureRez::OnRLSDEvent,         &TDaVevureRez::OnRxClusterEvent,
      &TDaVevureRez::OnRxCharEvent,       &TDaVevureRez::OnRxEventCharEvent,
      &TDaVevureRez::OnWriteDone,
  };
  // Bits above the events: a report of level 0, 1, 2 would reach a handler.
  static constexpr std::uint32_t kReportBit = 1u << 13;
  static std::uint32_t EventBit(TNotifyEvent TDaVevureRez::*Event);
  static std::uint32_t ReportBit(std::uint8_t Noise) {
    return kReportBit << std::min<std::uint8_t>(Noise, 2);
  }
  std::uint32_t Listeners() const;
  // While closing waits for the worker the main thread can change no handler, so the
  // worker may tell a hand-over that would find none and skip it, as it would have to
  // wait for the end of the closing otherwise.
  bool Unheard(std::uint32_t Bit) const { return fClosing && !(fClosingListeners & Bit); }

  void ApplyCommState();
  void ReportError(std::uint32_t Place, std::uint32_t Code, const ByteString& Msg,
                   std::uint8_t Noise);
  void SwitchPort(bool Activate);
  void SetEventMask();
  void ResetOverlapped(platform::CommSlot Slot);
  void WorkThreadTerminated();
  void AwaitWorker(const std::function<bool()>& done, int checks, std::chrono::milliseconds period);
  // Waits within the closing bound for an outstanding write to end at the port; returns
  // how many of the bound's checks that took.
  int AwaitWriteEnd(platform::CommPort& port);
  // The open port, or a stand-in whose every call fails as on a closed handle.
  std::shared_ptr<platform::CommPort> Port() const;
  // The oldest cluster, null for an empty queue.
  TAxSerialCluster* Head();
  void DropHead();

  TObject* const fOwner;
  platform::MainLoop& fLoop;
  platform::CommPortFactory& fPorts;
  platform::Registry* fRegistry = nullptr;

  ByteString fComPort = "COM2";
  std::uint32_t fBaudRate = 9600;
  std::uint8_t fParityType = 0;
  char fParityErrorChar = 0;
  bool fParityErrorReplacement = false;
  std::uint8_t fStopBits = 0;
  std::uint8_t fDataBits = 8;
  char fXONChar = 11;
  char fXOFFChar = 13;
  std::uint8_t fXONLimDiv = 33;
  std::uint8_t fXOFFLimDiv = 33;
  std::int32_t fFlowControl = 0;
  bool fStripNullChars = false;
  char fEventChar = 0;
  std::uint8_t fErrorNoise = 255;
  std::atomic<std::uint32_t> fRTOCharDelayTime{1100};
  std::atomic<std::uint32_t> fRTOExtraDelayTime{250};
  std::atomic<std::uint32_t> fWTOCharDelayTime{1100};
  std::atomic<std::uint32_t> fWTOExtraDelayTime{250};
  bool fXTOAuto = true;
  // Written by the worker's status polls and event dispatch.
  std::atomic<std::uint8_t> fComStateFlags{0};
  std::atomic<std::uint32_t> fComStateInQueue{0};
  std::atomic<std::uint32_t> fComStateOutQueue{0};
  std::atomic<std::uint32_t> fComError{0};
  std::atomic<std::uint32_t> fComEvent{0};
  std::atomic<std::uint32_t> fModemState{0};
  std::atomic<bool> fActive{false};
  bool fRTSState = true;
  bool fDTRState = true;
  bool fBREAKState = false;
  std::atomic<bool> fCTSState{false};
  std::atomic<bool> fDSRState{false};
  std::atomic<bool> fRLSDState{false};
  std::atomic<bool> fRingState{false};
  std::atomic<std::uint32_t> fClusterSize{3072};
  std::uint32_t fRxQueueSize = 4096;
  std::uint32_t fTxQueueSize = 4096;
  std::atomic<bool> fReadRequest{false};
  std::atomic<bool> fSendInProgress{false};
  std::atomic<std::uint32_t> fWrittenBytes{0};
  // Set before fSendInProgress; the outstanding write is always the last accepted one.
  std::atomic<std::uint32_t> fWriteToken{0};
  std::uint32_t fWriteDoneToken = 0;  // main thread only

  // The open port; null while closed. Guarded by a mutex rather than held in
  // std::atomic<std::shared_ptr>: this library's lock-bit implementation of the latter is
  // invisible to the thread sanitizer, which then reports every hand-over as a race.
  class SharedPort {
   public:
    std::shared_ptr<platform::CommPort> load() const {
      std::lock_guard lock(mutex_);
      return port_;
    }
    void store(std::shared_ptr<platform::CommPort> port) {
      std::shared_ptr<platform::CommPort> previous;
      {
        std::lock_guard lock(mutex_);
        previous = std::exchange(port_, std::move(port));
      }
      // The previous port, if this was its last holder, is released outside the lock.
    }

   private:
    mutable std::mutex mutex_;
    std::shared_ptr<platform::CommPort> port_;
  };
  SharedPort hComPort;
  // The port the outstanding write was made on; set before fSendInProgress.
  SharedPort fWritePort;
  std::atomic<std::uint32_t> BytesToWrite{0};
  std::atomic<std::uint32_t> WriteStartTime{0};
  std::atomic<bool> WorkThreadIsRunning{false};
  std::atomic<bool> WorkThreadIsTerminated{false};
  std::atomic<bool> ShutdownInProgress{false};
  std::atomic<bool> fClosing{false};
  // Hand-overs of the worker now running on the main thread (main thread only). Closing
  // inside one cannot wait for the worker: it is blocked until that hand-over returns.
  int fInHandOver = 0;
  std::atomic<std::uint32_t> fClosingListeners{0};
  std::deque<std::unique_ptr<TAxSerialCluster>> RxDClusterList;
  std::int32_t LastErr = 0;
  std::int32_t Platform = 0;
  std::unique_ptr<TVoDiviVuvovi> WorkThread;
};
