// The protocol component: the top layer of the communication stack. It sits on a connection
// component and gives the application a telegram interface: telegrams go in with
// SendeDaten/SendeString, arrive in ToProzessListe (OnDataRecieveEvent), and the send queue
// reports when it has run empty (OnSuccessfulReadyEvent) or when delivery failed
// (OnErrorAbortEvent). `Protokoll` chooses the line procedure: none, 3964R, 3964R-Plus with
// block mode, a stream mode that discards, or HDLC-style frames sent at once.
//
// It republishes the connection component's nineteen events (fourteen relayed serial
// events as OnCom..., five connection events as OnModem...).
//
// Thread safety: main thread only; the connection component delivers its events there.
// Ownership: the connection component is referenced, not owned. It must outlive this
// component or be detached first (SetDoVuverUve(nullptr)); detaching, replacing or
// destroying this component removes its handlers from the connection component. Without a
// connection component the component stays usable and every operation that needs the line
// does nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "connection/TDoVuverUve.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "protocol/T3964RProzedur.h"
#include "protocol/TAxProtokollCluster.h"
#include "util/ByteString.h"

enum class TVerbindungsTyp : std::uint8_t { vbtModem = 0 };

// Stored in 8 bits; a value outside the list (from stored settings) acts like p3964RStream.
enum class TProtokoll : std::uint8_t {
  pNone = 0,
  p3964R = 1,
  p3964RPlus = 2,
  p3964RStream = 3,
  pHDLCNRM = 4,
};

class TRiVadaroverEza : public TObject, private T3964RLeitung {
 public:
  TRiVadaroverEza(TObject* AOwner, platform::MainLoop& Loop);
  ~TRiVadaroverEza() override;
  TRiVadaroverEza(const TRiVadaroverEza&) = delete;
  TRiVadaroverEza& operator=(const TRiVadaroverEza&) = delete;

  // Properties.
  TVerbindungsTyp Verbindung() const { return fVerbindung; }
  void SetVerbindung(TVerbindungsTyp Value);
  TDoVuverUve* DoVuverUve() const { return fDoVuverUve; }
  void SetDoVuverUve(TDoVuverUve* Value);
  TProtokoll Protokoll() const { return fProtokoll; }
  void SetProtokoll(TProtokoll Value);
  bool Active() const { return fActive; }
  void SetActive(bool Value);
  bool P3964RPBlockModeRecieveEnd() const { return fProzedur.fP3964RPBlockModeRecieveEnd; }
  void SetP3964RPBlockModeRecieveEnd(bool Value) { fProzedur.SetP3964RPBlockModeRecieveEnd(Value); }
  bool P3964RPBlockModeSendRequest() const { return fProzedur.fP3964RPBlockModeSendRequest; }
  void SetP3964RPBlockModeSendRequest(bool Value) {
    fProzedur.SetP3964RPBlockModeSendRequest(Value);
  }
  bool P3964RPBlockModeSendLock() const { return fProzedur.fP3964RPBlockModeSendLock; }
  void SetP3964RPBlockModeSendLock(bool Value) { fProzedur.SetP3964RPBlockModeSendLock(Value); }
  bool P3964RPBlockModeRecieveLock() const { return fProzedur.fP3964RPBlockModeRecieveLock; }
  void SetP3964RPBlockModeRecieveLock(bool Value) {
    fProzedur.SetP3964RPBlockModeRecieveLock(Value);
  }
  // Milliseconds. A new value stops the answer timer until a cluster, a connect or a
  // transmission starts it again.
  std::int32_t WaitForAnswer3964R() const { return f3964RWaitForAnswer; }
  void SetWaitForAnswer3964R(std::int32_t Value);
  // Milliseconds; reaches the serial port when block mode begins.
  std::uint32_t P3964RPExtryDelayTime() const { return fP3964RPExtraDelayTime; }
  void SetP3964RPExtryDelayTime(std::uint32_t Value) { fP3964RPExtraDelayTime = Value; }

  TObject* Owner() const { return fOwner; }

  // State, for display and diagnosis.
  bool Connected() const { return fConnected; }
  TP3964RStatus P3964RStatus() const { return fProzedur.fP3964RStatus; }
  TP3964RPStatus P3964RPStatus() const { return fProzedur.fP3964RPStatus; }
  std::int32_t ErrorTimeOutCounter() const { return fProzedur.f3964RErrorTimeOutCounter; }
  std::int32_t ErrorTransmitCounter() const { return fProzedur.f3964RErrorTransmitCounter; }
  bool WaitForAnswerRunning() const { return T3964RWaitForAnswer->Enabled(); }

  // Events relayed from the connection component with the sender it gave.
  TNotifyEvent OnComTxQueueEmptyEvent, OnComComEvent, OnComComStat, OnComBreakEvent, OnComCTSEvent,
      OnComDSREvent, OnComLineErrorEvent, OnComRingEvent, OnComRLSDEvent, OnComRxClusterEvent,
      OnComRxCharEvent, OnComRxEventCharEvent, OnComWriteDone, OnComProcessError;
  TNotifyEvent OnModemConnectEvent, OnModemDisconnectEvent, OnModemDataSendEvent,
      OnModemDataRecieveEvent, OnModemErrorTransmitEvent;
  // Own events, with this component as sender.
  TNotifyEvent OnSuccessfulReadyEvent, OnDataRecieveEvent;
  TNotifyErrorEvent OnErrorAbortEvent;

  // Sends or queues Size bytes as the protocol wants it. The caller keeps its buffer.
  void SendeDaten(const void* Data, std::uint32_t Size);
  void SendeString(const ByteString& Daten);
  // Size of the oldest received telegram; 0 when none waits.
  std::uint32_t GetNextClusterSize();
  // Takes the oldest received telegram out; empty with ClusterSize 0 when none waits.
  ByteString ReadNextCluster(std::uint32_t& ClusterSize);

  // Settings. The store that WriteSettings and ReadSettings use; null (the default) is the
  // current user's store, platform::UserRegistry(). The store must outlive its use here.
  void SetRegistry(platform::Registry* Registry) { fRegistry = Registry; }
  // Writes Verbindung, Protokoll, WaitForAnswer3964R, the block mode send request and
  // Active as strings under <Regkey>\<RegSubKey>. Success is not reported; a failing store
  // ends the writing with 0x3012 (what was written stays).
  void WriteSettings(const std::string& Regkey, const std::string& RegSubKey);
  // Applies them back through the properties, a missing one as its default (p3964RPlus for
  // the protocol), then switches off and on again as the stored Active says. Success is
  // not reported; a failing store or a value that is not a string ends the reading with
  // 0x3022, and what was applied stays.
  void ReadSettings(const std::string& Regkey, const std::string& RegSubKey);
  // Shows the settings dialog modally. The dialog is Qt code in a library of its own, which
  // puts its runner into SettingsDialog (InstallVeDerudezodAraDuz); until then this does
  // nothing. That keeps this component free of Qt.
  void ExecuteDlg();
  static inline std::function<void(TRiVadaroverEza&)> SettingsDialog;

  // Handlers installed in the connection component's events.
  void DaVevureRezTxQueueEmptyEvent(TObject* Sender) { Relay(OnComTxQueueEmptyEvent, Sender); }
  void DaVevureRezComEvent(TObject* Sender) { Relay(OnComComEvent, Sender); }
  void DaVevureRezComStat(TObject* Sender) { Relay(OnComComStat, Sender); }
  void DaVevureRezBreakEvent(TObject* Sender) { Relay(OnComBreakEvent, Sender); }
  void DaVevureRezCTSEvent(TObject* Sender) { Relay(OnComCTSEvent, Sender); }
  void DaVevureRezDSREvent(TObject* Sender) { Relay(OnComDSREvent, Sender); }
  void DaVevureRezLineErrorEvent(TObject* Sender) { Relay(OnComLineErrorEvent, Sender); }
  void DaVevureRezRingEvent(TObject* Sender) { Relay(OnComRingEvent, Sender); }
  void DaVevureRezRLSDEvent(TObject* Sender) { Relay(OnComRLSDEvent, Sender); }
  void DaVevureRezRxClusterEvent(TObject* Sender) { Relay(OnComRxClusterEvent, Sender); }
  void DaVevureRezRxCharEvent(TObject* Sender) { Relay(OnComRxCharEvent, Sender); }
  void DaVevureRezRxEventCharEvent(TObject* Sender) { Relay(OnComRxEventCharEvent, Sender); }
  void DaVevureRezWriteDone(TObject* Sender) { Relay(OnComWriteDone, Sender); }
  void DaVevureRezProcessError(TObject* Sender) { Relay(OnComProcessError, Sender); }
  void DoVuverUveConnectEvent(TObject* Sender);
  void DoVuverUveDisconnectEvent(TObject* Sender);
  void DoVuverUveDataSendEvent(TObject* Sender) { Relay(OnModemDataSendEvent, Sender); }
  void DoVuverUveDataRecieveEvent(TObject* Sender);
  void DoVuverUveErrorTransmitEvent(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                                    const ByteString& Msg, std::uint8_t Noise);
  // Tick of the answer timer.
  void T3964RWaitForAnswerTimer();

  // Send queue (stored frames, oldest first; the head is the one in transit) and receive
  // queue (received telegrams, oldest first).
  TProtokollListe ToSendListe;
  TProtokollListe ToProzessListe;

 private:
  static void Relay(const TNotifyEvent& Event, TObject* Sender) {
    if (Event) Event(Sender);
  }
  void Einhaken(TDoVuverUve& Line);
  static void Aushaken(TDoVuverUve& Line);
  void EmpfangeOhneProtokoll();
  void SendeHDLC(const ByteString& Data);
  void SendeSteuerzeichen(char Zeichen) { SendeRohdaten(ByteString(1, Zeichen)); }

  // T3964RLeitung
  void SendeRohdaten(const ByteString& Data) override;
  std::uint32_t PendingClusterSize() override;
  ByteString TakeCluster() override;
  void DataRecieveEvent() override;
  void SuccessfulReadyEvent() override;
  void MeldeFehler(std::uint32_t Place, std::uint32_t Code, const ByteString& Msg,
                   std::uint8_t Noise) override;
  void SetzeExtraDelayTime() override;

  TObject* fOwner;
  platform::Registry* fRegistry = nullptr;
  bool fActive = false;
  bool fConnected = false;
  TVerbindungsTyp fVerbindung = TVerbindungsTyp::vbtModem;
  TDoVuverUve* fDoVuverUve = nullptr;
  TProtokoll fProtokoll = TProtokoll::pNone;
  std::uint32_t fP3964RPExtraDelayTime = 250;
  // Before the timer, which is created with it.
  std::int32_t f3964RWaitForAnswer = 1000;
  std::unique_ptr<platform::Timer> T3964RWaitForAnswer;
  T3964RProzedur fProzedur;
};
