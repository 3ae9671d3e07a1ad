#include "protocol/T3964RProzedur.h"

#include <utility>

using ctl::DLE;
using ctl::ETX;
using ctl::NAK;
using ctl::STX;

namespace {

const char kSendenNichtErfolgreich[] = "Senden nicht erfolgreich !";
const char kKeineAntwortSendewunsch[] = "Keine Antwort auf Sendewunsch !";

// Byte k of a cluster, 0 outside it (also for negative k, as n - 1 of an empty cluster).
char At(const ByteString& b, std::int64_t k) {
  return k >= 0 && static_cast<std::size_t>(k) < b.size() ? b[static_cast<std::size_t>(k)] : '\0';
}
std::int64_t Len(const ByteString& b) {
  return static_cast<std::int64_t>(b.size());
}

}  // namespace

T3964RProzedur::T3964RProzedur(T3964RLeitung& Leitung, platform::Timer& WaitForAnswer,
                               TProtokollListe& ToSendListe, TProtokollListe& ToProzessListe)
    : fLeitung(Leitung),
      fTimer(WaitForAnswer),
      fToSendListe(ToSendListe),
      fToProzessListe(ToProzessListe) {}

ByteString T3964RProzedur::BaueTelegramm(const ByteString& Data) {
  TAxProtokollCluster frame(Data);
  for (std::uint32_t i = 0; i < frame.GetSize(); ++i) {
    if (frame.GetCharAtPos(i) == DLE) frame.AddCharAtPos(++i, DLE);
  }
  frame.AddCharAtPos(frame.GetSize(), DLE);
  frame.AddCharAtPos(frame.GetSize(), ETX);
  frame.AddBCC();
  return frame.GetDataAsString();
}

ByteString T3964RProzedur::Entdoppeln(ByteString t) {
  std::size_t n = t.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (t[i] != DLE) continue;
    if (t[i + 1] == DLE) {
      t.erase(i + 1, 1);
      --n;
    } else {
      SendeZeichen(NAK);
      return {};
    }
  }
  return t;
}

ByteString T3964RProzedur::Nutzdaten(const ByteString& b, std::size_t trailer) {
  return Entdoppeln(b.substr(0, b.size() - trailer));
}

bool T3964RProzedur::SendeKopf() {
  if (fToSendListe.empty()) return false;
  // A copy: a handler raised during the send may empty the queue.
  const ByteString frame = fToSendListe.front().GetDataAsString();
  Sende(frame);
  return true;
}

bool T3964RProzedur::SendeKopfBlockform() {
  if (fToSendListe.empty()) return false;
  const ByteString frame = fToSendListe.front().Get3964RBCCDataWithCRC();
  Sende(frame);
  return true;
}

void T3964RProzedur::Fehler(std::uint32_t Place, std::int32_t Code, const char* Msg) {
  fLeitung.MeldeFehler(Place, static_cast<std::uint32_t>(Code), Msg, 0);
}

template <typename Uebergang, typename Getrennt>
void T3964RProzedur::Empfange(Uebergang uebergang, Getrennt getrennt) {
  while (fLeitung.PendingClusterSize() > 0) {
    const ByteString cluster = fLeitung.TakeCluster();
    fTimer.Stop();
    // Only the last of several waiting clusters counts: the earlier ones are stale answers.
    if (fLeitung.PendingClusterSize() == 0) uebergang(cluster);
    // Restarted, so the next tick comes one full interval after this cluster.
    if (!getrennt()) fTimer.Start();
  }
}

// ---------------------------------------------------------------------------------------
// 3964R

void T3964RProzedur::Verbunden3964R() {
  NeueEpoche();
  fP3964RStatus = Status::p3964rstConnect;
  fTimer.Start();
}

void T3964RProzedur::Getrennt3964R() {
  NeueEpoche();
  fP3964RStatus = Status::p3964rstDisconnect;
  fTimer.Stop();
}

void T3964RProzedur::SendeDaten3964R(const ByteString& Data) {
  fToSendListe.emplace_back(BaueTelegramm(Data));
  if (fToSendListe.size() == 1 && fP3964RStatus == Status::p3964rstConnect) Zeitablauf3964R();
}

void T3964RProzedur::Empfange3964R() {
  Empfange([this](const ByteString& b) { Uebergang3964R(b); },
           [this] { return fP3964RStatus == Status::p3964rstDisconnect; });
}

void T3964RProzedur::Uebergang3964R(const ByteString& b) {
  const std::int64_t n = Len(b);
  const std::uint64_t epoche = fEpoche;
  switch (fP3964RStatus) {
    case Status::p3964rstDisconnect:
    case Status::p3964rstSTXRecieve:
      return;

    case Status::p3964rstConnect:
      if (At(b, n - 1) == STX) {
        fP3964RStatus = Status::p3964rstSTXRecieve;
        SendeZeichen(DLE);
        if (epoche == fEpoche) fP3964RStatus = Status::p3964rstDLESnSTXR;
      }
      return;

    case Status::p3964rstDLESnSTXR: {
      TAxProtokollCluster block(b);
      if (At(b, n - 3) == DLE && At(b, n - 2) == ETX && block.BestimmeBCC() == 0) {
        ByteString t = Nutzdaten(b, 3);
        fP3964RStatus = Status::p3964rstConnect;
        if (!t.empty()) fToProzessListe.emplace_back(std::move(t));
        SendeZeichen(DLE);
        fLeitung.DataRecieveEvent();
      } else {
        fP3964RStatus = Status::p3964rstConnect;
        SendeZeichen(NAK);
      }
      return;
    }

    case Status::p3964rstSTXSend:
      if (n == 1 && At(b, 0) == DLE) {
        if (!SendeKopf()) {
          // Nothing left to send (the queue was emptied meanwhile): back to idle.
          fP3964RStatus = Status::p3964rstConnect;
          return;
        }
        if (epoche != fEpoche) return;
        f3964RErrorTimeOutCounter = 0;
        fP3964RStatus = Status::p3964rstDLERnSTXS;
      } else if (At(b, n - 1) == STX) {
        // Both sides asked for the line: this side always gives way.
        fP3964RStatus = Status::p3964rstSTXRnSTXS;
        SendeZeichen(DLE);
      } else {
        fP3964RStatus = Status::p3964rstConnect;
      }
      return;

    case Status::p3964rstDLERnSTXS:
      if (At(b, 0) == DLE) {
        f3964RErrorTransmitCounter = 0;
        const bool weitere = fToSendListe.size() > 1;
        EntferneKopf();
        if (weitere && n == 1) {
          fP3964RStatus = Status::p3964rstSTXSend;
          SendeZeichen(STX);
        } else if (n == 2 && At(b, 1) == STX) {
          fP3964RStatus = Status::p3964rstDLESnSTXR;
          SendeZeichen(DLE);
        } else {
          fP3964RStatus = Status::p3964rstConnect;
        }
      } else {
        Erhoehe(f3964RErrorTransmitCounter);
        fP3964RStatus = Status::p3964rstConnect;
        SendeZeichen(NAK);
      }
      return;

    case Status::p3964rstSTXRnSTXS: {
      TAxProtokollCluster block(b);
      if (At(b, n - 3) == DLE && At(b, n - 2) == ETX && block.BestimmeBCC() == 0) {
        ByteString t = Nutzdaten(b, 3);
        fP3964RStatus = Status::p3964rstConnect;
        if (!t.empty()) {
          fToProzessListe.emplace_back(std::move(t));
          SendeZeichen(DLE);
          fLeitung.DataRecieveEvent();
        }
      } else if (n == 1 && At(b, 0) == DLE) {
        if (!SendeKopf()) {
          fP3964RStatus = Status::p3964rstConnect;
          return;
        }
        if (epoche != fEpoche) return;
        f3964RErrorTimeOutCounter = 0;
        fP3964RStatus = Status::p3964rstDLERnSTXS;
      } else {
        fP3964RStatus = Status::p3964rstConnect;
        SendeZeichen(NAK);
      }
      return;
    }
  }
}

void T3964RProzedur::ConnectSchritt(std::uint32_t Place, bool plus) {
  if (!fToSendListe.empty() && f3964RErrorTransmitCounter < kMaxSendeVersuche) {
    if (plus)
      fP3964RPStatus = PStatus::p3964rpstSTXSend;
    else
      fP3964RStatus = Status::p3964rstSTXSend;
    SuccessfullReadyEnabled = true;
    const std::uint64_t epoche = fEpoche;
    SendeZeichen(STX);
    if (epoche != fEpoche) return;
    fTimer.Start();
  }
  if (f3964RErrorTransmitCounter >= kMaxSendeVersuche) {
    SuccessfullReadyEnabled = false;
    Fehler(Place, f3964RErrorTransmitCounter, kSendenNichtErfolgreich);
  }
  if (fToSendListe.empty() && SuccessfullReadyEnabled) {
    SuccessfullReadyEnabled = false;
    fLeitung.SuccessfulReadyEvent();
  }
}

void T3964RProzedur::Zeitablauf3964R() {
  const std::uint64_t epoche = fEpoche;
  switch (fP3964RStatus) {
    case Status::p3964rstDisconnect:
      fTimer.Stop();
      return;
    case Status::p3964rstConnect:
      ConnectSchritt(report::k3964RSendenNichtErfolgreich, false);
      return;
    case Status::p3964rstSTXRecieve:
    case Status::p3964rstDLESnSTXR:
    case Status::p3964rstSTXRnSTXS:
      fP3964RStatus = Status::p3964rstConnect;
      SendeZeichen(NAK);
      return;
    case Status::p3964rstSTXSend:
      Erhoehe(f3964RErrorTimeOutCounter);
      if (f3964RErrorTimeOutCounter < kMaxTimeOuts) {
        SendeZeichen(STX);
        return;
      }
      SendeZeichen(NAK);
      Fehler(report::k3964RKeineAntwortSendewunsch, f3964RErrorTimeOutCounter,
             kKeineAntwortSendewunsch);
      if (epoche != fEpoche) return;
      fTimer.Stop();
      fP3964RStatus = Status::p3964rstConnect;
      return;
    case Status::p3964rstDLERnSTXS:
      Erhoehe(f3964RErrorTransmitCounter);
      fP3964RStatus = Status::p3964rstConnect;
      SendeZeichen(NAK);
      return;
  }
}

// ---------------------------------------------------------------------------------------
// 3964R-Plus

namespace {

const char kKeineAntwortToggleBlock[] = "Keine Antwort auf ToggleBlock !";
const char kKeineAntwortBlockmodus[] = "Keine Antwort im Blockmodus !";

bool BCCForm(const ByteString& b) {
  const std::int64_t n = Len(b);
  return At(b, n - 3) == DLE && At(b, n - 2) == ETX && TAxProtokollCluster(b).BestimmeBCC() == 0;
}
bool CRCForm(const ByteString& b) {
  const std::int64_t n = Len(b);
  return At(b, n - 6) == DLE && At(b, n - 5) == ETX && TAxProtokollCluster(b).VergleicheCRC();
}
bool IstBlockUmschaltung(const ByteString& b) {
  return b.size() == 2 && b[0] == DLE && b[1] == ETX;
}

}  // namespace

void T3964RProzedur::Verbunden3964RPlus() {
  NeueEpoche();
  fP3964RPStatus = PStatus::p3964rpstConnect;
  fTimer.Start();
}

void T3964RProzedur::Getrennt3964RPlus() {
  NeueEpoche();
  fP3964RPStatus = PStatus::p3964rpstDisconnect;
  fTimer.Stop();
}

void T3964RProzedur::SendeDaten3964RPlus(const ByteString& Data) {
  fToSendListe.emplace_back(BaueTelegramm(Data));
  if (fToSendListe.size() == 1 && fP3964RPStatus == PStatus::p3964rpstConnect)
    Zeitablauf3964RPlus();
}

void T3964RProzedur::SetP3964RPBlockModeRecieveEnd(bool Value) {
  // Only meaningful while a block receive runs.
  fP3964RPBlockModeRecieveEnd = Value && fP3964RPStatus == PStatus::p3964rpstBlockModeRecieve;
}

void T3964RProzedur::SetP3964RPBlockModeSendRequest(bool Value) {
  fP3964RPBlockModeSendRequest = Value && !fP3964RPBlockModeSendLock;
}

void T3964RProzedur::SetP3964RPBlockModeSendLock(bool Value) {
  fP3964RPBlockModeSendLock = Value;
  if (Value) SetP3964RPBlockModeSendRequest(false);
}

void T3964RProzedur::SetP3964RPBlockModeRecieveLock(bool Value) {
  fP3964RPBlockModeRecieveLock = Value;
  if (Value) SetP3964RPBlockModeRecieveEnd(true);
}

void T3964RProzedur::Empfange3964RPlus() {
  Empfange([this](const ByteString& b) { Uebergang3964RPlus(b); },
           [this] { return fP3964RPStatus == PStatus::p3964rpstDisconnect; });
}

void T3964RProzedur::Uebergang3964RPlus(const ByteString& b) {
  const std::int64_t n = Len(b);
  const std::uint64_t epoche = fEpoche;
  // The trailer of a good block: 6 bytes in CRC form (which wins when both fit), 3 in BCC
  // form, 0 for no good block.
  const auto trailer = [&b]() -> std::size_t { return CRCForm(b) ? 6 : BCCForm(b) ? 3 : 0; };

  switch (fP3964RPStatus) {
    case PStatus::p3964rpstDisconnect:
    case PStatus::p3964rpstSTXRecieve:
      return;

    case PStatus::p3964rpstConnect:
      if (At(b, n - 1) == STX) {
        fP3964RPStatus = PStatus::p3964rpstSTXRecieve;
        SendeZeichen(DLE);
        if (epoche == fEpoche) fP3964RPStatus = PStatus::p3964rpstDLESnSTXR;
      }
      return;

    case PStatus::p3964rpstDLESnSTXR:
      if (const std::size_t tr = trailer(); tr > 0) {
        ByteString t = Nutzdaten(b, tr);
        fP3964RPStatus = PStatus::p3964rpstConnect;
        if (!t.empty()) fToProzessListe.emplace_back(std::move(t));
        SendeZeichen(DLE);
        fLeitung.DataRecieveEvent();
      } else if (IstBlockUmschaltung(b) && !fP3964RPBlockModeRecieveLock) {
        fLeitung.SetzeExtraDelayTime();
        fP3964RPStatus = PStatus::p3964rpstBlockModeRecieve;
        SendeZeichen(DLE);
      } else {
        fP3964RPStatus = PStatus::p3964rpstConnect;
        SendeZeichen(NAK);
      }
      return;

    case PStatus::p3964rpstBlockModeRecieve:
      if (const std::size_t tr = trailer(); tr > 0) {
        ByteString t = Nutzdaten(b, tr);
        if (t.empty()) return;
        fToProzessListe.emplace_back(std::move(t));
        if (fP3964RPBlockModeRecieveEnd && !fToSendListe.empty()) {
          // Our STX acknowledges the telegram and ends the peer's block mode.
          fP3964RPStatus = PStatus::p3964rpstSTXSend;
          SuccessfullReadyEnabled = true;
          SendeZeichen(STX);
        } else {
          SendeZeichen(DLE);
        }
        fLeitung.DataRecieveEvent();
      } else if (IstBlockUmschaltung(b)) {
        SendeZeichen(DLE);
      } else {
        SendeZeichen(NAK);
      }
      return;

    case PStatus::p3964rpstSTXSend:
      if (n == 1 && At(b, 0) == DLE && fP3964RPBlockModeSendRequest && !fP3964RPBlockModeSendLock) {
        fP3964RPStatus = PStatus::p3964rpstUmschaltBlockSend;
        Sende(ByteString{DLE, ETX});
      } else if (n == 1 && At(b, 0) == DLE) {
        if (!SendeKopf()) {
          fP3964RPStatus = PStatus::p3964rpstConnect;
          return;
        }
        if (epoche != fEpoche) return;
        f3964RErrorTimeOutCounter = 0;
        fP3964RPStatus = PStatus::p3964rpstDLERnSTXS;
      } else if (At(b, n - 1) == STX) {
        fP3964RPStatus = PStatus::p3964rpstSTXRnSTXS;
        SendeZeichen(DLE);
      } else {
        fP3964RPStatus = PStatus::p3964rpstConnect;
      }
      return;

    case PStatus::p3964rpstDLERnSTXS:
      if (At(b, 0) == DLE) {
        f3964RErrorTransmitCounter = 0;
        const bool weitere = fToSendListe.size() > 1;
        EntferneKopf();
        if (weitere && n == 1) {
          fP3964RPStatus = PStatus::p3964rpstSTXSend;
          SendeZeichen(STX);
        } else if (n == 2 && At(b, 1) == STX) {
          fP3964RPStatus = PStatus::p3964rpstDLESnSTXR;
          SendeZeichen(DLE);
        } else {
          fP3964RPStatus = PStatus::p3964rpstConnect;
        }
      } else {
        Erhoehe(f3964RErrorTransmitCounter);
        fP3964RPStatus = PStatus::p3964rpstConnect;
        SendeZeichen(NAK);
      }
      return;

    case PStatus::p3964rpstUmschaltBlockSend:
      if (n == 1 && At(b, 0) == DLE) {
        f3964RErrorTransmitCounter = 0;
        // The first telegram of a block send goes in its normal form.
        if (!SendeKopf()) {
          fP3964RPStatus = PStatus::p3964rpstConnect;
          return;
        }
        if (epoche != fEpoche) return;
        fLeitung.SetzeExtraDelayTime();
        f3964RErrorTimeOutCounter = 0;
        fP3964RPStatus = PStatus::p3964rpstBlockModeSend;
      } else if (At(b, n - 1) == NAK) {
        // The peer does not do block mode: ask no more.
        fP3964RPBlockModeSendRequest = false;
        fP3964RPBlockModeSendLock = true;
        fP3964RPStatus = PStatus::p3964rpstConnect;
      } else {
        Erhoehe(f3964RErrorTransmitCounter);
        fP3964RPStatus = PStatus::p3964rpstSTXSend;
        SendeZeichen(STX);
      }
      return;

    case PStatus::p3964rpstBlockModeSend:
      if (n == 1 && At(b, 0) == DLE) {
        ResetCounters();
        EntferneKopf();
        // With the queue run empty the block send is over; the peer may take the line.
        if (fToSendListe.empty())
          fP3964RPStatus = PStatus::p3964rpstConnect;
        else
          SendeKopfBlockform();
      } else if (n == 1 && At(b, 0) == STX) {
        // The peer's STX acknowledges our last telegram and ends our block mode.
        ResetCounters();
        EntferneKopf();
        fP3964RPStatus = PStatus::p3964rpstDLESnSTXR;
        SendeZeichen(DLE);
      } else if (f3964RErrorTransmitCounter < kMaxSendeVersuche) {
        Erhoehe(f3964RErrorTransmitCounter);
        if (!SendeKopfBlockform()) fP3964RPStatus = PStatus::p3964rpstConnect;
      } else {
        fP3964RPStatus = PStatus::p3964rpstConnect;
        SendeZeichen(NAK);
        fP3964RPBlockModeSendRequest = false;
      }
      return;

    case PStatus::p3964rpstSTXRnSTXS:
      if (BCCForm(b)) {
        ByteString t = Nutzdaten(b, 3);
        fP3964RPStatus = PStatus::p3964rpstConnect;
        if (!t.empty()) {
          fToProzessListe.emplace_back(std::move(t));
          SendeZeichen(DLE);
          fLeitung.DataRecieveEvent();
        }
      } else if (IstBlockUmschaltung(b)) {
        fLeitung.SetzeExtraDelayTime();
        fP3964RPStatus = PStatus::p3964rpstBlockModeRecieve;
        SendeZeichen(DLE);
      } else if (n == 1 && At(b, 0) == DLE) {
        if (!SendeKopf()) {
          fP3964RPStatus = PStatus::p3964rpstConnect;
          return;
        }
        if (epoche != fEpoche) return;
        f3964RErrorTimeOutCounter = 0;
        fP3964RPStatus = PStatus::p3964rpstDLERnSTXS;
      } else {
        fP3964RPStatus = PStatus::p3964rpstConnect;
        SendeZeichen(NAK);
      }
      return;
  }
}

void T3964RProzedur::Zeitablauf3964RPlus() {
  const std::uint64_t epoche = fEpoche;
  switch (fP3964RPStatus) {
    case PStatus::p3964rpstDisconnect:
      fTimer.Stop();
      return;
    case PStatus::p3964rpstConnect:
    case PStatus::p3964rpstBlockModeRecieve:
      // A tick ends a block receive.
      fP3964RPStatus = PStatus::p3964rpstConnect;
      ConnectSchritt(report::k3964RPSendenNichtErfolgreich, true);
      return;
    case PStatus::p3964rpstSTXRecieve:
    case PStatus::p3964rpstDLESnSTXR:
    case PStatus::p3964rpstSTXRnSTXS:
      fP3964RPStatus = PStatus::p3964rpstConnect;
      SendeZeichen(NAK);
      return;
    case PStatus::p3964rpstSTXSend:
      Erhoehe(f3964RErrorTimeOutCounter);
      if (f3964RErrorTimeOutCounter < kMaxTimeOuts) {
        SendeZeichen(STX);
        return;
      }
      SendeZeichen(NAK);
      Fehler(report::k3964RPKeineAntwortSendewunsch, f3964RErrorTimeOutCounter,
             kKeineAntwortSendewunsch);
      if (epoche != fEpoche) return;
      fTimer.Stop();
      fP3964RPStatus = PStatus::p3964rpstConnect;
      return;
    case PStatus::p3964rpstDLERnSTXS:
      Erhoehe(f3964RErrorTransmitCounter);
      fP3964RPStatus = PStatus::p3964rpstConnect;
      SendeZeichen(NAK);
      return;
    case PStatus::p3964rpstUmschaltBlockSend:
      Erhoehe(f3964RErrorTimeOutCounter);
      if (f3964RErrorTimeOutCounter < kMaxTimeOuts) {
        // The handshake starts over.
        fP3964RPStatus = PStatus::p3964rpstSTXSend;
        SendeZeichen(STX);
        return;
      }
      SendeZeichen(NAK);
      Fehler(report::k3964RPKeineAntwortToggleBlock, f3964RErrorTimeOutCounter,
             kKeineAntwortToggleBlock);
      if (epoche != fEpoche) return;
      fTimer.Stop();
      fP3964RPStatus = PStatus::p3964rpstConnect;
      return;
    case PStatus::p3964rpstBlockModeSend:
      Erhoehe(f3964RErrorTimeOutCounter);
      if (f3964RErrorTimeOutCounter < kMaxTimeOuts) {
        // A repetition after a time-out goes in the normal form.
        if (!SendeKopf()) fP3964RPStatus = PStatus::p3964rpstConnect;
        return;
      }
      fP3964RPBlockModeSendRequest = false;
      fP3964RPStatus = PStatus::p3964rpstConnect;
      Fehler(report::k3964RPKeineAntwortBlockmodus, f3964RErrorTimeOutCounter,
             kKeineAntwortBlockmodus);
      if (epoche != fEpoche) return;
      SendeZeichen(NAK);
      fTimer.Stop();
      return;
  }
}
