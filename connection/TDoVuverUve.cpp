#include "connection/TDoVuverUve.h"

#include <cstdio>
#include <cstring>

#include "serial/TDaVevureRez.h"
#include "util/ByteText.h"

// ---------------------------------------------------------------------------------------
// TAxModemCluster

void TAxModemCluster::GetData(void* Dest) const {
  if (Dest && !ClusterData.empty()) std::memcpy(Dest, ClusterData.data(), ClusterData.size());
}

char* TAxModemCluster::GetDataAsPChar(char* Dest) const {
  if (!Dest) return Dest;
  GetData(Dest);
  Dest[ClusterData.size()] = '\0';
  return Dest;
}

ByteString TAxModemCluster::GetDataAsHexString() const {
  ByteString text;
  text.reserve(ClusterData.size() * 3);
  for (std::size_t i = 0; i < ClusterData.size(); ++i) {
    text += ByteToHex(static_cast<std::uint8_t>(ClusterData[i]));
    text += i + 1 < ClusterData.size() ? ',' : ';';
  }
  return text;
}

// ---------------------------------------------------------------------------------------
// Traffic log lines

namespace {

constexpr const char* kHeaderDirect = "Verbindung Direkt:";
constexpr const char* kHeaderModem = "Verbindung über Modem:";
constexpr const char* kHeaderSerial = "Serielle Schnittstelle:";

constexpr const char* kSent = "Gesendet -";
constexpr const char* kReceived = "Empfangen-";
constexpr const char* kReceivedWithError = "EEmpfangen";
constexpr const char* kModemAnswer = "CONNECT   ";
constexpr const char* kMessage = "Meldung   -";

// "dd.mm.yy hh:mm:ss.zzz"
std::string TimeStamp(const platform::LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%02d %02d:%02d:%02d.%03d", t.day % 100, t.month % 100,
                t.year % 100, t.hour % 100, t.minute % 100, t.second % 100, t.millisecond % 1000);
  return text;
}

// The serial component's waiting reasons, in the order their texts are listed.
struct HoldText {
  TComStateFlag flag;
  const char* text;
};
constexpr HoldText kHoldTexts[] = {
    {TComStateFlag::fCtlHold, "Übertragung wartet auf CTS-Signal (clear-to-send) "},
    {TComStateFlag::fDsrHold, "Übertragung wartet auf DSR-Signal (data-set-ready) "},
    {TComStateFlag::fRlsHold, "Übertragung wartet auf RLS-Signal (receive-line-signal detect) "},
    {TComStateFlag::fXoffHold, "Übertragung wartet da XOff-Zeichen empfangen wurde "},
    {TComStateFlag::fXOffSent, "Übertragung wartet da XOff-Zeichen gesendet wurde "},
    {TComStateFlag::fEof, "Ein EOF-Zeichen (end-of-file) wurde empfangen "},
    {TComStateFlag::fTxim,
     "Es wurde mittels der TransmitComChar-Funktion ein Zeichen in die Sende-Queue gestellt. "},
};

constexpr std::uint32_t kNoCluster = 0xFFFFFFFF;  // the serial queue's "empty" error value

void Raise(const TNotifyEvent& event, TObject* sender) {
  if (event) event(sender);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TDoVuverUve

TDoVuverUve::TDoVuverUve(TObject* AOwner, platform::MainLoop& loop) : fLoop(loop), fOwner(AOwner) {
  RxDCharTimer = fLoop.CreateTimer(platform::Milliseconds(fRxDCharTime));
  RxDCharTimer->OnTimer = [this] { RxDCharResetTimerOnTimer(); };
  RxDCharTimer->Start();
}

TDoVuverUve::~TDoVuverUve() = default;

void TDoVuverUve::SetPCSchnittstelle(TPCSchnittstellenTyp Value) {
  SetActive(false);
  fPCSchnittstelle = Value;
}

void TDoVuverUve::SetAnschlussTyp(TAnschlussTyp Value) {
  SetActive(false);
  fAnschlussTyp = Value;
}

void TDoVuverUve::SetWahlverfahren(TWahlverfahren Value) {
  SetActive(false);
  fWahlverfahren = Value;
}

void TDoVuverUve::SetRxDCharTime(std::int32_t Value) {
  const bool enabled = RxDCharTimer->Enabled();
  RxDCharTimer->Stop();
  fRxDCharTime = Value;
  RxDCharTimer->SetInterval(platform::Milliseconds(Value > 0 ? Value : 0));
  if (enabled) RxDCharTimer->Start();
}

void TDoVuverUve::SetDaVevureRez(TDaVevureRez* Value) {
  fDaVevureRez = Value;
  if (!Value) return;
  TDaVevureRez& s = *Value;
  s.OnComEvent = [this](TObject* Sender) { DaVevureRezComEvent(Sender); };
  s.OnComStat = [this](TObject* Sender) { DaVevureRezComStat(Sender); };
  s.OnWriteDone = [this](TObject* Sender) { DaVevureRezWriteDone(Sender); };
  s.OnProcessError = [this](TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                            const ByteString& Msg, std::uint8_t Noise) {
    DaVevureRezProcessError(Sender, Place, Code, Msg, Noise);
  };
  s.OnRxClusterEvent = [this](TObject* Sender) { DaVevureRezRxClusterEvent(Sender); };
  s.OnRxCharEvent = [this](TObject* Sender) { DaVevureRezRxCharEvent(Sender); };
  s.OnTxQueueEmptyEvent = [this](TObject* Sender) { DaVevureRezTxQueueEmptyEvent(Sender); };
  s.OnBreakEvent = [this](TObject* Sender) { DaVevureRezBreakEvent(Sender); };
  s.OnRLSDEvent = [this](TObject* Sender) { DaVevureRezRLSDEvent(Sender); };
  s.OnCTSEvent = [this](TObject* Sender) { DaVevureRezCTSEvent(Sender); };
  s.OnDSREvent = [this](TObject* Sender) { DaVevureRezDSREvent(Sender); };
  s.OnLineErrorEvent = [this](TObject* Sender) { DaVevureRezLineErrorEvent(Sender); };
  s.OnRingEvent = [this](TObject* Sender) { DaVevureRezRingEvent(Sender); };
  s.OnRxEventCharEvent = [this](TObject* Sender) { DaVevureRezRxEventCharEvent(Sender); };
}

void TDoVuverUve::SetActive(bool Value) {
  if (Value == fActive) return;
  if (Value) {
    ToSendListe.clear();
    ToProzessListe.clear();
    // A write that never completed (refused, or lost with a closed port) must not hold
    // back every send of the new line.
    SendDataSize = 0;
    SentToken = 0;
    WaitForOldWrite = false;
  }
  if (fPCSchnittstelle == TPCSchnittstellenTyp::pcstSeriell) {
    if (fAnschlussTyp == TAnschlussTyp::astModem) {
      Value ? ModemEin() : ModemAus();
    } else if (fAnschlussTyp == TAnschlussTyp::astDirekt) {
      // Without a serial component the line behaves like a port that does not open.
      if (fDaVevureRez) {
        fDaVevureRez->SetActive(Value);
        Value = fDaVevureRez->Active();
      } else {
        Value = false;
      }
      UpdateConnected(Value);
    }
  }
  fActive = Value;
}

void TDoVuverUve::ModemEin() {
  if (fDaVevureRez) fDaVevureRez->SetActive(true);
  if (fResetModem) SendeDatenIntern(ByteString("AT&F\r\n"));
  if (!fIniString.empty()) SendeDatenIntern(fIniString + "\r\n");
  if (fWahlverfahren == TWahlverfahren::wvfTon)
    SendeDatenIntern("ATDT" + fTeleNummer + "\r\n");
  else if (fWahlverfahren == TWahlverfahren::wvfImpuls)
    SendeDatenIntern("ATDP" + fTeleNummer + "\r\n");
}

void TDoVuverUve::ModemAus() {
  if (fConnected) SendeDatenIntern(ByteString("+++"));
  SendeDatenIntern(ByteString("ATH0\r\n"));
  UpdateConnected(false);
  fLoop.Sleep(platform::Milliseconds(1000));
  if (fDaVevureRez) fDaVevureRez->SetActive(false);
}

void TDoVuverUve::UpdateConnected(bool Value) {
  if (Value && fDaVevureRez && fDaVevureRez->Active()) {
    if (fConnected) return;
    fConnected = true;
    ConnectEvent(this);
  } else {
    fConnected = false;
    DisconnectEvent(this);
  }
}

void TDoVuverUve::SendeDaten(const void* Data, std::uint32_t Size) {
  if (fConnected) {
    SendeDatenIntern(Data, Size);
  } else if (!fAutoConnect) {
    ProtokollMeldung("", 0x0011, 16,
                     "Kann Daten nicht senden, da keine Verbindung mit Endgerät besteht !", 0);
  } else {
    SetActive(true);
    SendeDatenIntern(Data, Size);
  }
}

void TDoVuverUve::SendeDatenIntern(const void* Data, std::uint32_t Size) {
  if (!fDaVevureRez || !fDaVevureRez->Active()) return;
  // The serial component would refuse a write while one of the line before a quick off
  // and on is outstanding: the data wait for its end instead of being lost.
  if (SentToken == 0 && !WaitForOldWrite && fDaVevureRez->SendInProgress()) WaitForOldWrite = true;
  if (SentToken != 0 || WaitForOldWrite) {
    ToSendListe.emplace_back(ByteString(static_cast<const char*>(Data), Size));
    return;
  }
  SendDataSize = Size;
  TrimLog();
  if (fTxDWaitSendTime > 0) fLoop.Sleep(platform::Milliseconds(fTxDWaitSendTime));
  const TAxModemCluster sent(ByteString(static_cast<const char*>(Data), Size));
  AppendLine("", kSent, sent.GetDataAsHexString());
  const std::uint64_t sent_line = LogLinesDropped + ProtokollListe.size() - 1;
  const std::uint32_t before = fDaVevureRez->WriteToken();
  SentToken = before + 1;
  fDaVevureRez->SendData(Data, Size);
  if (fDaVevureRez->WriteToken() != before) return;
  // Refused: nothing was sent, no completion follows, and the next send is not queued
  // behind it.
  SentToken = 0;
  SendDataSize = 0;
  if (sent_line >= LogLinesDropped)
    ProtokollListe.erase(ProtokollListe.begin() +
                         static_cast<std::ptrdiff_t>(sent_line - LogLinesDropped));
}

void TDoVuverUve::SendeDatenIntern(const ByteString& Data) {
  SendeDatenIntern(Data.data(), static_cast<std::uint32_t>(Data.size()));
}

std::uint32_t TDoVuverUve::GetNextClusterSize() {
  return ToProzessListe.empty() ? 0 : ToProzessListe.front().GetSize();
}

ByteString TDoVuverUve::ReadNextCluster(std::uint32_t& ClusterSize) {
  if (ToProzessListe.empty()) {
    ClusterSize = 0;
    return {};
  }
  ByteString data = ToProzessListe.front().GetDataAsString();
  ToProzessListe.pop_front();
  ClusterSize = static_cast<std::uint32_t>(data.size());
  return data;
}

// ---------------------------------------------------------------------------------------
// Handlers of the serial component's events

void TDoVuverUve::DaVevureRezComEvent(TObject* Sender) {
  Raise(OnComComEvent, Sender);
}

void TDoVuverUve::DaVevureRezComStat(TObject* Sender) {
  if (fDaVevureRez) {
    std::string text;
    const TComStateFlags flags = fDaVevureRez->ComStateFlags();
    for (const HoldText& hold : kHoldTexts)
      if (flags.Contains(hold.flag)) (text += hold.text) += '\r';
    if (!text.empty()) DaVevureRezProcessError(this, 0x2031, 0, text, 0);
  }
  Raise(OnComComStat, Sender);
}

void TDoVuverUve::DaVevureRezWriteDone(TObject* Sender) {
  if (!fDaVevureRez || fDaVevureRez->WriteDoneToken() != SentToken) {
    // The late end of a write of the line before a quick off and on: not this line's,
    // but the serial component is free again for what waited.
    if (WaitForOldWrite) {
      WaitForOldWrite = false;
      SendNextQueued();
    }
    return;
  }
  SentToken = 0;
  if (fDaVevureRez->WrittenBytes() != SendDataSize)
    DaVevureRezProcessError(this, 0x2041, 0, "Nicht alles gesendet", 0);
  SendDataSize = 0;
  if (!ToSendListe.empty()) {
    SendNextQueued();
  } else if (fConnected) {
    DataSendEvent(this);
  }
  Raise(OnComWriteDone, Sender);
}

void TDoVuverUve::SendNextQueued() {
  if (ToSendListe.empty()) return;
  const ByteString next = ToSendListe.front().GetDataAsString();
  ToSendListe.pop_front();
  SendeDatenIntern(next);
}

void TDoVuverUve::DaVevureRezProcessError(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                                          const ByteString& Msg, std::uint8_t Noise) {
  ProtokollMeldung(kHeaderSerial, Place, Code, Msg, Noise);
  Raise(OnComProcessError, Sender);
}

void TDoVuverUve::DaVevureRezRxClusterEvent(TObject* Sender) {
  // Every cluster is taken, the empty ones that only carry line errors included: stopping
  // at an empty head cluster would strand everything received after it.
  while (fDaVevureRez && fDaVevureRez->NextClusterCCError() != kNoCluster) {
    std::uint32_t size = 0;
    std::uint32_t error = 0;
    const TAxModemCluster cluster(fDaVevureRez->ReadNextCluster(size, error));
    const ByteString& bytes = cluster.GetDataAsString();
    if (fHearForConnect && bytes.find("CONNECT") != ByteString::npos) {
      TrimLog();
      AppendLine("", kModemAnswer, Latin1ToUtf8(bytes));
      UpdateConnected(true);
    }
    TrimLog();
    if (error == 0) {
      AppendLine("", kReceived, cluster.GetDataAsHexString());
      // An empty cluster would read as "nothing waiting" and block the queue above.
      if (!bytes.empty()) ToProzessListe.push_back(cluster);
    } else {
      AppendLine("", kReceivedWithError, cluster.GetDataAsHexString());
    }
  }
  Raise(OnComRxClusterEvent, Sender);
  if (fConnected) DataRecieveEvent(this);
}

void TDoVuverUve::DaVevureRezRxCharEvent(TObject* Sender) {
  RxDCharStartTimer = true;
  RxDCharResetTimer = false;
  Raise(OnComRxCharEvent, Sender);
}

void TDoVuverUve::DaVevureRezTxQueueEmptyEvent(TObject* Sender) {
  Raise(OnComTxQueueEmptyEvent, Sender);
}

void TDoVuverUve::DaVevureRezBreakEvent(TObject* Sender) {
  Raise(OnComBreakEvent, Sender);
}

void TDoVuverUve::DaVevureRezRLSDEvent(TObject* Sender) {
  if (fDaVevureRez && fDaVevureRez->RLSDState())
    UpdateConnected(true);
  else if (fConnected && fAnschlussTyp == TAnschlussTyp::astModem)
    SetActive(false);
  Raise(OnComRLSDEvent, Sender);
}

void TDoVuverUve::DaVevureRezCTSEvent(TObject* Sender) {
  Raise(OnComCTSEvent, Sender);
}

void TDoVuverUve::DaVevureRezDSREvent(TObject* Sender) {
  Raise(OnComDSREvent, Sender);
}

void TDoVuverUve::DaVevureRezLineErrorEvent(TObject* Sender) {
  Raise(OnComLineErrorEvent, Sender);
}

void TDoVuverUve::DaVevureRezRingEvent(TObject* Sender) {
  Raise(OnComRingEvent, Sender);
}

void TDoVuverUve::DaVevureRezRxEventCharEvent(TObject* Sender) {
  Raise(OnComRxEventCharEvent, Sender);
}

void TDoVuverUve::RxDCharResetTimerOnTimer() {
  if (RxDCharResetTimer) RxDCharStartTimer = RxDCharResetTimer = false;
  if (RxDCharStartTimer) RxDCharResetTimer = true;
}

// ---------------------------------------------------------------------------------------
// Event raisers and reports

void TDoVuverUve::ConnectEvent(TObject* Sender) {
  ProtokollMeldung("", 0x2011, 0, "Verbindung Hergestellt", 2);
  Raise(OnConnectEvent, Sender);
}

void TDoVuverUve::DisconnectEvent(TObject* Sender) {
  ProtokollMeldung("", 0x2021, 0, "Verbindung Abgebaut", 2);
  Raise(OnDisconnectEvent, Sender);
}

void TDoVuverUve::DataSendEvent(TObject* Sender) {
  Raise(OnDataSendEvent, Sender);
}

void TDoVuverUve::DataRecieveEvent(TObject* Sender) {
  Raise(OnDataRecieveEvent, Sender);
}

void TDoVuverUve::ErrorTransmitEvent(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                                     const ByteString& Msg, std::uint8_t Noise) {
  if (OnErrorTransmitEvent) OnErrorTransmitEvent(Sender, Place, Code, Msg, Noise);
}

void TDoVuverUve::ProtokollMeldung(const ByteString& Header, std::uint32_t Place,
                                   std::uint32_t Code, const ByteString& Msg, std::uint8_t Noise) {
  ByteString header = Header;
  if (header.empty()) {
    header = fAnschlussTyp == TAnschlussTyp::astDirekt  ? kHeaderDirect
             : fAnschlussTyp == TAnschlussTyp::astModem ? kHeaderModem
                                                        : kHeaderSerial;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Fehler %u Ort %4.4X Text: ", Code, Place);
  TrimLog();
  AppendLine(header, kMessage, text + Msg);
  if (Noise == 0) ErrorTransmitEvent(this, Place, Code, Msg, Noise);
}

void TDoVuverUve::TrimLog() {
  while (!ProtokollListe.empty() &&
         static_cast<std::int64_t>(ProtokollListe.size()) > fMaxProtAnzahl) {
    ProtokollListe.pop_front();
    ++LogLinesDropped;
  }
}

void TDoVuverUve::AppendLine(const std::string& header, const char* prefix,
                             const std::string& payload) {
  ProtokollListe.push_back(header + prefix + TimeStamp(Clock()) + " :" + payload);
}
