// The line procedures 3964R and 3964R-Plus (with block mode) as state machines over whole
// received clusters, the ticks of the answer timer and queued telegrams.
//
// The procedures see the rest of the world only through `T3964RLeitung` ("send bytes",
// "take a received cluster", the three component events and the serial extra delays) and the
// answer timer, so every transition can be driven and checked without a connection.
//
// Thread safety: main thread only. A handler called from inside a step (an event, or a relay
// raised while bytes are sent) may re-enter the component: hand in telegrams, deactivate it,
// read the queues. A step never keeps a reference into a queue across such a call, and a
// connect, disconnect or activation inside a step ends the step (`NeueEpoche`).
// Ownership: the queues and the timer belong to the component; the procedures refer to them.
#pragma once

#include <cstdint>
#include <deque>

#include "platform/MainLoop.h"
#include "protocol/TAxProtokollCluster.h"
#include "util/ByteString.h"

using TProtokollListe = std::deque<TAxProtokollCluster>;

enum class TP3964RStatus : std::uint8_t {
  p3964rstDisconnect = 0,
  p3964rstConnect = 1,
  p3964rstSTXRecieve = 2,
  p3964rstDLESnSTXR = 3,
  p3964rstSTXSend = 4,
  p3964rstDLERnSTXS = 5,
  p3964rstSTXRnSTXS = 6,
};

enum class TP3964RPStatus : std::uint8_t {
  p3964rpstDisconnect = 0,
  p3964rpstConnect = 1,
  p3964rpstSTXRecieve = 2,
  p3964rpstDLESnSTXR = 3,
  p3964rpstBlockModeRecieve = 4,
  p3964rpstSTXSend = 5,
  p3964rpstDLERnSTXS = 6,
  p3964rpstUmschaltBlockSend = 7,
  p3964rpstBlockModeSend = 8,
  p3964rpstSTXRnSTXS = 9,
};

// What the procedures need from the component around them.
class T3964RLeitung {
 public:
  virtual ~T3964RLeitung() = default;

  // Hands bytes to the line (dropped while there is no connection).
  virtual void SendeRohdaten(const ByteString& Data) = 0;
  // Size of the oldest cluster the line holds for us; 0 when none waits.
  virtual std::uint32_t PendingClusterSize() = 0;
  // Takes the oldest cluster from the line.
  virtual ByteString TakeCluster() = 0;

  virtual void DataRecieveEvent() = 0;
  virtual void SuccessfulReadyEvent() = 0;
  virtual void MeldeFehler(std::uint32_t Place, std::uint32_t Code, const ByteString& Msg,
                           std::uint8_t Noise) = 0;
  // Block mode begins: the serial port's extra delays take the component's block mode delay.
  virtual void SetzeExtraDelayTime() = 0;
};

// Reports of the procedures.
namespace report {
inline constexpr std::uint32_t k3964RSendenNichtErfolgreich = 0x3030;
inline constexpr std::uint32_t k3964RKeineAntwortSendewunsch = 0x3031;
inline constexpr std::uint32_t k3964RPSendenNichtErfolgreich = 0x3040;
inline constexpr std::uint32_t k3964RPKeineAntwortSendewunsch = 0x3041;
inline constexpr std::uint32_t k3964RPKeineAntwortToggleBlock = 0x3042;
inline constexpr std::uint32_t k3964RPKeineAntwortBlockmodus = 0x3043;
}  // namespace report

class T3964RProzedur {
 public:
  // Transmissions of one telegram before it is given up, and STX (or block mode request,
  // or block telegram) time-outs before the peer counts as silent.
  static constexpr std::int32_t kMaxSendeVersuche = 6;
  static constexpr std::int32_t kMaxTimeOuts = 3;

  T3964RProzedur(T3964RLeitung& Leitung, platform::Timer& WaitForAnswer,
                 TProtokollListe& ToSendListe, TProtokollListe& ToProzessListe);
  T3964RProzedur(const T3964RProzedur&) = delete;
  T3964RProzedur& operator=(const T3964RProzedur&) = delete;

  // The stored frame of a telegram: every DLE doubled, then DLE, ETX and the BCC.
  static ByteString BaueTelegramm(const ByteString& Data);

  // 3964R.
  void Empfange3964R();
  void Zeitablauf3964R();
  // Queues a telegram; the first one handed in while idle starts its transmission at once.
  void SendeDaten3964R(const ByteString& Data);

  // 3964R-Plus.
  void Empfange3964RPlus();
  void Zeitablauf3964RPlus();
  void SendeDaten3964RPlus(const ByteString& Data);

  // The connection came up or went down.
  void Verbunden3964R();
  void Getrennt3964R();
  void Verbunden3964RPlus();
  void Getrennt3964RPlus();

  // Block mode flags as the application writes them.
  void SetP3964RPBlockModeRecieveEnd(bool Value);
  void SetP3964RPBlockModeSendRequest(bool Value);
  void SetP3964RPBlockModeSendLock(bool Value);
  void SetP3964RPBlockModeRecieveLock(bool Value);

  void ResetCounters() {
    f3964RErrorTimeOutCounter = 0;
    f3964RErrorTransmitCounter = 0;
  }
  // Something outside the step changed the ground under it (connect, disconnect,
  // activation): a step that is still running stops at its next action.
  void NeueEpoche() { ++fEpoche; }

  // The state, readable by the component and placed directly by tests.
  TP3964RStatus fP3964RStatus = TP3964RStatus::p3964rstDisconnect;
  TP3964RPStatus fP3964RPStatus = TP3964RPStatus::p3964rpstDisconnect;
  std::int32_t f3964RErrorTimeOutCounter = 0;
  std::int32_t f3964RErrorTransmitCounter = 0;
  bool SuccessfullReadyEnabled = false;
  bool fP3964RPBlockModeRecieveEnd = false;
  bool fP3964RPBlockModeSendRequest = false;
  bool fP3964RPBlockModeSendLock = false;
  bool fP3964RPBlockModeRecieveLock = false;

 private:
  using Status = TP3964RStatus;
  using PStatus = TP3964RPStatus;

  // The skeleton both receive steps share: one cluster at a time, only the last of several
  // pending clusters evaluated, the timer stopped meanwhile and started again afterwards.
  template <typename Uebergang, typename Getrennt>
  void Empfange(Uebergang uebergang, Getrennt getrennt);

  void Uebergang3964R(const ByteString& b);
  void Uebergang3964RPlus(const ByteString& b);
  // The three checks of an idle step.
  void ConnectSchritt(std::uint32_t Place, bool plus);

  // Un-doubles the DLEs of a telegram whose trailer is gone. A DLE followed by anything but
  // a DLE voids it: NAK goes out and the result is empty.
  ByteString Entdoppeln(ByteString t);
  // The telegram of a block that passed its trailer check, trailer removed and un-doubled.
  ByteString Nutzdaten(const ByteString& b, std::size_t trailer);

  void Sende(const ByteString& Data) { fLeitung.SendeRohdaten(Data); }
  void SendeZeichen(char c) { Sende(ByteString(1, c)); }
  // Sends the head frame in its stored form (or CRC block form); false when the queue is
  // empty and nothing went out.
  bool SendeKopf();
  bool SendeKopfBlockform();
  void EntferneKopf() {
    if (!fToSendListe.empty()) fToSendListe.pop_front();
  }
  void Fehler(std::uint32_t Place, std::int32_t Code, const char* Msg);
  static void Erhoehe(std::int32_t& Counter) {
    if (Counter < INT32_MAX) ++Counter;
  }

  T3964RLeitung& fLeitung;
  platform::Timer& fTimer;
  TProtokollListe& fToSendListe;
  TProtokollListe& fToProzessListe;
  std::uint64_t fEpoche = 0;
};
