#include "protocol/TRiVadaroverEza.h"

#include "serial/TDaVevureRez.h"

namespace {

bool MitProzedur(TProtokoll p) {
  return p == TProtokoll::p3964R || p == TProtokoll::p3964RPlus;
}

}  // namespace

TRiVadaroverEza::TRiVadaroverEza(TObject* AOwner, platform::MainLoop& Loop)
    : fOwner(AOwner),
      T3964RWaitForAnswer(Loop.CreateTimer(platform::Milliseconds(f3964RWaitForAnswer))),
      fProzedur(*this, *T3964RWaitForAnswer, ToSendListe, ToProzessListe) {
  T3964RWaitForAnswer->OnTimer = [this] { T3964RWaitForAnswerTimer(); };
}

TRiVadaroverEza::~TRiVadaroverEza() {
  T3964RWaitForAnswer->Stop();
  // The connection component may outlive us; it must not call into a destroyed component.
  if (fDoVuverUve) Aushaken(*fDoVuverUve);
}

void TRiVadaroverEza::SetVerbindung(TVerbindungsTyp Value) {
  if (Value == fVerbindung) return;
  SetActive(false);
  fVerbindung = Value;
}

void TRiVadaroverEza::SetDoVuverUve(TDoVuverUve* Value) {
  if (Value == fDoVuverUve) return;
  SetActive(false);
  if (fDoVuverUve) Aushaken(*fDoVuverUve);
  fDoVuverUve = Value;
  if (fDoVuverUve) Einhaken(*fDoVuverUve);
}

void TRiVadaroverEza::SetProtokoll(TProtokoll Value) {
  if (Value == fProtokoll) return;
  SetActive(false);
  fProtokoll = Value;
}

void TRiVadaroverEza::SetActive(bool Value) {
  if (Value == fActive) return;
  if (Value) {
    // Telegrams of an earlier activation are discarded, not delivered: no ready report for
    // them.
    ToSendListe.clear();
    ToProzessListe.clear();
    fProzedur.NeueEpoche();
    fProzedur.SuccessfullReadyEnabled = false;
    if (MitProzedur(fProtokoll)) fProzedur.ResetCounters();
    // Once the line is up, its connect event puts the procedure into Connect.
    if (fVerbindung == TVerbindungsTyp::vbtModem && fDoVuverUve) fDoVuverUve->SetActive(true);
    fActive = true;
  } else {
    fProzedur.NeueEpoche();
    T3964RWaitForAnswer->Stop();
    if (MitProzedur(fProtokoll)) fProzedur.ResetCounters();
    if (fDoVuverUve) fDoVuverUve->SetActive(false);
    fActive = false;
  }
}

void TRiVadaroverEza::SetWaitForAnswer3964R(std::int32_t Value) {
  if (Value == f3964RWaitForAnswer) return;
  T3964RWaitForAnswer->Stop();
  f3964RWaitForAnswer = Value;
  T3964RWaitForAnswer->SetInterval(platform::Milliseconds(Value));
}

void TRiVadaroverEza::SendeDaten(const void* Data, std::uint32_t Size) {
  if (!Data && Size > 0) return;  // nothing to read from
  const ByteString bytes = Size > 0 ? ByteString(static_cast<const char*>(Data), Size) : "";
  switch (fProtokoll) {
    case TProtokoll::pNone:
      SendeRohdaten(bytes);
      return;
    case TProtokoll::p3964R:
      fProzedur.SendeDaten3964R(bytes);
      return;
    case TProtokoll::p3964RPlus:
      fProzedur.SendeDaten3964RPlus(bytes);
      return;
    case TProtokoll::pHDLCNRM:
      SendeHDLC(bytes);
      return;
    case TProtokoll::p3964RStream:
      return;
  }
  // Values outside the list send nothing, like p3964RStream.
}

void TRiVadaroverEza::SendeString(const ByteString& Daten) {
  SendeDaten(Daten.data(), static_cast<std::uint32_t>(Daten.size()));
}

void TRiVadaroverEza::SendeHDLC(const ByteString& Data) {
  constexpr char kFlag = 0x7E;
  ByteString body;
  if (Data.size() == 1) {
    // Appended, not Data + ByteString(2, 0): that trips a false -Wrestrict of GCC 12 at -O3.
    body = Data;
    body.append(2, '\0');
  } else {
    const auto size = static_cast<std::uint32_t>(Data.size());
    body += ctl::DLE;
    body += static_cast<char>((size >> 8) & 0xFF);
    body += static_cast<char>(size & 0xFF);
    body += Data;
  }
  TAxProtokollCluster frame(std::move(body));
  frame.AddCRC16();
  SendeRohdaten(kFlag + frame.GetDataAsString() + kFlag);
}

std::uint32_t TRiVadaroverEza::GetNextClusterSize() {
  // Empty entries (the application may fill the public queue itself) carry no telegram.
  while (!ToProzessListe.empty() && ToProzessListe.front().GetSize() == 0)
    ToProzessListe.pop_front();
  return ToProzessListe.empty() ? 0 : ToProzessListe.front().GetSize();
}

ByteString TRiVadaroverEza::ReadNextCluster(std::uint32_t& ClusterSize) {
  ClusterSize = GetNextClusterSize();
  if (ClusterSize == 0) return {};
  ByteString data = ToProzessListe.front().GetDataAsString();
  ToProzessListe.pop_front();
  return data;
}

void TRiVadaroverEza::Einhaken(TDoVuverUve& Line) {
  Line.OnComTxQueueEmptyEvent = [this](TObject* s) { DaVevureRezTxQueueEmptyEvent(s); };
  Line.OnComComEvent = [this](TObject* s) { DaVevureRezComEvent(s); };
  Line.OnComComStat = [this](TObject* s) { DaVevureRezComStat(s); };
  Line.OnComBreakEvent = [this](TObject* s) { DaVevureRezBreakEvent(s); };
  Line.OnComCTSEvent = [this](TObject* s) { DaVevureRezCTSEvent(s); };
  Line.OnComDSREvent = [this](TObject* s) { DaVevureRezDSREvent(s); };
  Line.OnComLineErrorEvent = [this](TObject* s) { DaVevureRezLineErrorEvent(s); };
  Line.OnComRingEvent = [this](TObject* s) { DaVevureRezRingEvent(s); };
  Line.OnComRLSDEvent = [this](TObject* s) { DaVevureRezRLSDEvent(s); };
  Line.OnComRxClusterEvent = [this](TObject* s) { DaVevureRezRxClusterEvent(s); };
  Line.OnComRxCharEvent = [this](TObject* s) { DaVevureRezRxCharEvent(s); };
  Line.OnComRxEventCharEvent = [this](TObject* s) { DaVevureRezRxEventCharEvent(s); };
  Line.OnComWriteDone = [this](TObject* s) { DaVevureRezWriteDone(s); };
  Line.OnComProcessError = [this](TObject* s) { DaVevureRezProcessError(s); };
  Line.OnConnectEvent = [this](TObject* s) { DoVuverUveConnectEvent(s); };
  Line.OnDisconnectEvent = [this](TObject* s) { DoVuverUveDisconnectEvent(s); };
  Line.OnDataSendEvent = [this](TObject* s) { DoVuverUveDataSendEvent(s); };
  Line.OnDataRecieveEvent = [this](TObject* s) { DoVuverUveDataRecieveEvent(s); };
  Line.OnErrorTransmitEvent = [this](TObject* s, std::uint32_t Place, std::uint32_t Code,
                                     const ByteString& Msg, std::uint8_t Noise) {
    DoVuverUveErrorTransmitEvent(s, Place, Code, Msg, Noise);
  };
}

void TRiVadaroverEza::Aushaken(TDoVuverUve& Line) {
  for (TNotifyEvent* e :
       {&Line.OnComTxQueueEmptyEvent, &Line.OnComComEvent, &Line.OnComComStat,
        &Line.OnComBreakEvent, &Line.OnComCTSEvent, &Line.OnComDSREvent, &Line.OnComLineErrorEvent,
        &Line.OnComRingEvent, &Line.OnComRLSDEvent, &Line.OnComRxClusterEvent,
        &Line.OnComRxCharEvent, &Line.OnComRxEventCharEvent, &Line.OnComWriteDone,
        &Line.OnComProcessError, &Line.OnConnectEvent, &Line.OnDisconnectEvent,
        &Line.OnDataSendEvent, &Line.OnDataRecieveEvent})
    *e = nullptr;
  Line.OnErrorTransmitEvent = nullptr;
}

void TRiVadaroverEza::DoVuverUveConnectEvent(TObject* Sender) {
  fConnected = true;
  if (fProtokoll == TProtokoll::p3964R) fProzedur.Verbunden3964R();
  if (fProtokoll == TProtokoll::p3964RPlus) fProzedur.Verbunden3964RPlus();
  Relay(OnModemConnectEvent, Sender);
}

void TRiVadaroverEza::DoVuverUveDisconnectEvent(TObject* Sender) {
  fConnected = false;
  if (fProtokoll == TProtokoll::p3964R) fProzedur.Getrennt3964R();
  if (fProtokoll == TProtokoll::p3964RPlus) fProzedur.Getrennt3964RPlus();
  Relay(OnModemDisconnectEvent, Sender);
}

void TRiVadaroverEza::DoVuverUveDataRecieveEvent(TObject* Sender) {
  switch (fProtokoll) {
    case TProtokoll::pNone:
      EmpfangeOhneProtokoll();
      break;
    case TProtokoll::p3964R:
      fProzedur.Empfange3964R();
      break;
    case TProtokoll::p3964RPlus:
      fProzedur.Empfange3964RPlus();
      break;
    default:
      // Stream and HDLC modes leave received clusters with the connection component.
      break;
  }
  Relay(OnModemDataRecieveEvent, Sender);
}

void TRiVadaroverEza::EmpfangeOhneProtokoll() {
  while (PendingClusterSize() > 0) {
    ToProzessListe.emplace_back(TakeCluster());
    DataRecieveEvent();
  }
}

void TRiVadaroverEza::DoVuverUveErrorTransmitEvent(TObject* Sender, std::uint32_t Place,
                                                   std::uint32_t Code, const ByteString& Msg,
                                                   std::uint8_t Noise) {
  MeldeFehler(Place, Code, Msg, Noise);
  Relay(OnModemErrorTransmitEvent, Sender);
}

void TRiVadaroverEza::T3964RWaitForAnswerTimer() {
  if (fProtokoll == TProtokoll::p3964R) fProzedur.Zeitablauf3964R();
  if (fProtokoll == TProtokoll::p3964RPlus) fProzedur.Zeitablauf3964RPlus();
}

void TRiVadaroverEza::SendeRohdaten(const ByteString& Data) {
  if (!fDoVuverUve) return;
  // The procedures' bytes go out only over a connection; without protocol the connection
  // component decides (and reports).
  if (fProtokoll == TProtokoll::pNone || fDoVuverUve->Connected()) fDoVuverUve->SendeDaten(Data);
}

std::uint32_t TRiVadaroverEza::PendingClusterSize() {
  return fDoVuverUve ? fDoVuverUve->GetNextClusterSize() : 0;
}

ByteString TRiVadaroverEza::TakeCluster() {
  std::uint32_t size = 0;
  return fDoVuverUve ? fDoVuverUve->ReadNextCluster(size) : ByteString();
}

void TRiVadaroverEza::DataRecieveEvent() {
  Relay(OnDataRecieveEvent, this);
}

void TRiVadaroverEza::SuccessfulReadyEvent() {
  Relay(OnSuccessfulReadyEvent, this);
}

void TRiVadaroverEza::MeldeFehler(std::uint32_t Place, std::uint32_t Code, const ByteString& Msg,
                                  std::uint8_t Noise) {
  // Only errors reach the application.
  if (Noise == 0 && OnErrorAbortEvent) OnErrorAbortEvent(this, Place, Code, Msg, Noise);
}

void TRiVadaroverEza::SetzeExtraDelayTime() {
  TDaVevureRez* serial = fDoVuverUve ? fDoVuverUve->DaVevureRez() : nullptr;
  if (!serial) return;
  if (serial->RTOExtraDelayTime() != fP3964RPExtraDelayTime ||
      serial->WTOExtraDelayTime() != fP3964RPExtraDelayTime) {
    serial->SetRTOExtraDelayTime(fP3964RPExtraDelayTime);
    serial->SetWTOExtraDelayTime(fP3964RPExtraDelayTime);
  }
}
