// The connection component: the line between the PC and the terminal device, switched on
// and off directly or through a dialled modem, over one serial port component.
//
// It hands outgoing data to the serial component one write at a time (queuing what comes
// meanwhile), takes every received cluster over into its own queue for the layer above,
// republishes the serial component's fourteen events, keeps a time-stamped traffic log and
// reports errors of level 0 upward as OnErrorTransmitEvent.
//
// Thread safety: main thread only. The serial component delivers its events there.
// Ownership: the serial component is referenced, not owned; clusters in the queues belong
// to the queues.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "platform/WallClock.h"
#include "util/ByteString.h"

class TDaVevureRez;

// One block of bytes received or waiting to be written.
class TAxModemCluster : public TObject {
 public:
  TAxModemCluster() = default;
  explicit TAxModemCluster(ByteString Data) : ClusterData(std::move(Data)) {}

  std::uint32_t GetSize() const { return static_cast<std::uint32_t>(ClusterData.size()); }
  void GetData(void* Dest) const;
  const ByteString& GetDataAsString() const { return ClusterData; }
  char* GetDataAsPChar(char* Dest) const;
  // "02,10,F0;" for the bytes 02 10 F0; empty for no bytes.
  ByteString GetDataAsHexString() const;

 private:
  ByteString ClusterData;
};

enum class TPCSchnittstellenTyp : std::uint8_t { pcstSeriell = 0 };
enum class TAnschlussTyp : std::uint8_t { astDirekt = 0, astModem = 1 };
enum class TWahlverfahren : std::uint8_t { wvfTon = 0, wvfImpuls = 1 };

class TDoVuverUve : public TObject {
 public:
  TDoVuverUve(TObject* AOwner, platform::MainLoop& loop);
  ~TDoVuverUve() override;
  TDoVuverUve(const TDoVuverUve&) = delete;
  TDoVuverUve& operator=(const TDoVuverUve&) = delete;

  // Properties.
  TPCSchnittstellenTyp PCSchnittstelle() const { return fPCSchnittstelle; }
  void SetPCSchnittstelle(TPCSchnittstellenTyp Value);
  TDaVevureRez* DaVevureRez() const { return fDaVevureRez; }
  void SetDaVevureRez(TDaVevureRez* Value);
  TAnschlussTyp AnschlussTyp() const { return fAnschlussTyp; }
  void SetAnschlussTyp(TAnschlussTyp Value);
  TWahlverfahren Wahlverfahren() const { return fWahlverfahren; }
  void SetWahlverfahren(TWahlverfahren Value);
  const ByteString& IniString() const { return fIniString; }
  void SetIniString(const ByteString& Value) { fIniString = Value; }
  const ByteString& TeleNummer() const { return fTeleNummer; }
  void SetTeleNummer(const ByteString& Value) { fTeleNummer = Value; }
  std::int32_t RxDCharTime() const { return fRxDCharTime; }
  void SetRxDCharTime(std::int32_t Value);
  // Virtual so that a layer above can be tested on a stand-in line.
  virtual bool Active() const { return fActive; }
  virtual void SetActive(bool Value);
  virtual bool Connected() const { return fConnected; }
  bool HearForConnect() const { return fHearForConnect; }
  void SetHearForConnect(bool Value) { fHearForConnect = Value; }
  bool AutoConnect() const { return fAutoConnect; }
  void SetAutoConnect(bool Value) { fAutoConnect = Value; }
  bool ResetModem() const { return fResetModem; }
  void SetResetModem(bool Value) { fResetModem = Value; }
  std::int32_t MaxProtokollAnzahl() const { return fMaxProtAnzahl; }
  void SetMaxProtokollAnzahl(std::int32_t Value) { fMaxProtAnzahl = Value; }
  std::int32_t TxDWaitSendTime() const { return fTxDWaitSendTime; }
  void SetTxDWaitSendTime(std::int32_t Value) { fTxDWaitSendTime = Value; }

  // Events, relayed from the serial component with the sender it gave.
  TNotifyEvent OnComTxQueueEmptyEvent, OnComComEvent, OnComComStat, OnComBreakEvent, OnComCTSEvent,
      OnComDSREvent, OnComLineErrorEvent, OnComRingEvent, OnComRLSDEvent, OnComRxClusterEvent,
      OnComRxCharEvent, OnComRxEventCharEvent, OnComWriteDone, OnComProcessError;
  // Own events, with this component as sender.
  TNotifyEvent OnConnectEvent, OnDisconnectEvent, OnDataSendEvent, OnDataRecieveEvent;
  TNotifyErrorEvent OnErrorTransmitEvent;

  // Sends Size bytes (or queues them while a write is in progress). The caller keeps its
  // buffer.
  virtual void SendeDaten(const void* Data, std::uint32_t Size);
  void SendeDaten(const ByteString& Data) {
    SendeDaten(Data.data(), static_cast<std::uint32_t>(Data.size()));
  }
  // Size of the oldest received cluster; 0 when none waits.
  virtual std::uint32_t GetNextClusterSize();
  // Takes the oldest received cluster out; empty with ClusterSize 0 when none waits.
  virtual ByteString ReadNextCluster(std::uint32_t& ClusterSize);

  // Settings. The store that WriteSettings and ReadSettings use; null (the default) is the
  // current user's store, platform::UserRegistry(). The store must outlive its use here.
  void SetRegistry(platform::Registry* Registry) { fRegistry = Registry; }
  // Writes ten settings as strings under <Regkey>\<RegSubKey> (HearForConnect and
  // AutoConnect are not kept) and logs 0x2051; a failing store ends the writing with 0x2052
  // (what was written stays).
  void WriteSettings(const std::string& Regkey, const std::string& RegSubKey);
  // Applies them back through the properties, a missing one as its default, so the line is
  // switched off and, when the stored Active says so, on again; logs 0x2061. A failing store
  // or a value that is not a string ends the reading with 0x2062; what was applied stays.
  void ReadSettings(const std::string& Regkey, const std::string& RegSubKey);
  // Shows the settings dialog modally. The dialog is Qt code in a library of its own, which
  // puts its runner into SettingsDialog (InstallZaDozerUdoVaz); until then this does
  // nothing. That keeps this component free of Qt.
  void ExecuteDlg();
  static inline std::function<void(TDoVuverUve&)> SettingsDialog;

  // Handlers installed in the serial component's events.
  void DaVevureRezComEvent(TObject* Sender);
  void DaVevureRezComStat(TObject* Sender);
  void DaVevureRezWriteDone(TObject* Sender);
  void DaVevureRezProcessError(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                               const ByteString& Msg, std::uint8_t Noise);
  void DaVevureRezRxClusterEvent(TObject* Sender);
  void DaVevureRezRxCharEvent(TObject* Sender);
  void DaVevureRezTxQueueEmptyEvent(TObject* Sender);
  void DaVevureRezBreakEvent(TObject* Sender);
  void DaVevureRezRLSDEvent(TObject* Sender);
  void DaVevureRezCTSEvent(TObject* Sender);
  void DaVevureRezDSREvent(TObject* Sender);
  void DaVevureRezLineErrorEvent(TObject* Sender);
  void DaVevureRezRingEvent(TObject* Sender);
  void DaVevureRezRxEventCharEvent(TObject* Sender);
  void RxDCharResetTimerOnTimer();
  // Event raisers.
  void ConnectEvent(TObject* Sender);
  void DisconnectEvent(TObject* Sender);
  void DataSendEvent(TObject* Sender);
  void DataRecieveEvent(TObject* Sender);
  void ErrorTransmitEvent(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                          const ByteString& Msg, std::uint8_t Noise);

  // The traffic log (UTF-8 lines, oldest first); its owner may read and clear it.
  std::deque<std::string> ProtokollListe;
  // Data waiting for the write in progress to finish, oldest first.
  std::deque<TAxModemCluster> ToSendListe;
  // Received clusters waiting for the layer above, oldest first.
  std::deque<TAxModemCluster> ToProzessListe;

  // Where the log's time stamps come from; tests fix it.
  platform::WallClock Clock = platform::NowLocal;

 protected:
  platform::MainLoop& Loop() { return fLoop; }
  TObject* Owner() const { return fOwner; }

 private:
  void UpdateConnected(bool Value);
  void SendeDatenIntern(const void* Data, std::uint32_t Size);
  void SendeDatenIntern(const ByteString& Data);
  void SendNextQueued();
  void ModemEin();
  void ModemAus();
  // Removes the oldest lines while the log holds more than the limit.
  void TrimLog();
  void AppendLine(const std::string& header, const char* prefix, const std::string& payload);
  void ProtokollMeldung(const ByteString& Header, std::uint32_t Place, std::uint32_t Code,
                        const ByteString& Msg, std::uint8_t Noise);

  platform::MainLoop& fLoop;
  TObject* fOwner;
  platform::Registry* fRegistry = nullptr;
  bool fActive = false;
  bool fConnected = false;
  bool fHearForConnect = true;
  TPCSchnittstellenTyp fPCSchnittstelle = TPCSchnittstellenTyp::pcstSeriell;
  TDaVevureRez* fDaVevureRez = nullptr;
  bool RxDCharStartTimer = false;
  bool RxDCharResetTimer = false;
  std::unique_ptr<platform::Timer> RxDCharTimer;
  std::int32_t fRxDCharTime = 250;
  std::uint32_t SendDataSize = 0;
  // The serial component's token of the write this line waits for (0: none), so that a
  // refused write is recognised and a late completion of an earlier line's write is not
  // taken for it.
  std::uint32_t SentToken = 0;
  // A write of the line before a quick off and on is still outstanding in the serial
  // component: sends queue until it has ended.
  bool WaitForOldWrite = false;
  std::uint64_t LogLinesDropped = 0;  // lines TrimLog took from the front so far
  TAnschlussTyp fAnschlussTyp = TAnschlussTyp::astDirekt;
  TWahlverfahren fWahlverfahren = TWahlverfahren::wvfTon;
  ByteString fIniString;
  ByteString fTeleNummer;
  bool fAutoConnect = false;
  bool fResetModem = true;
  std::int32_t fMaxProtAnzahl = 10000;
  std::int32_t fTxDWaitSendTime = 0;
};
