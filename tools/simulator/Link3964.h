// The device's side of the 3964R link procedure, byte by byte.
//
// The engine sees single bytes with their arrival times and never cares how they were cut
// into reads. It is driven from one thread: Receive for every byte, Send for every telegram
// to send, and Poll whenever time has passed (at the latest at NextDeadline()). Everything
// it puts on the line and everything worth recording goes through a LinkListener.
//
// Behaviour: on STX it answers DLE and collects the telegram (data with doubled DLEs, DLE,
// ETX, BCC = XOR of all bytes from the first data byte to ETX), then answers DLE or NAK.
// To send it gives STX, waits for DLE, sends the telegram and waits for the final DLE; a
// NAK, a wrong answer or a time-out costs one attempt, and after `attempts` failed attempts
// the telegram is given up. With the high priority (the device's) a peer's STX that crosses
// its own STX stays unanswered: the peer gives way with DLE and receives first. With the
// low priority it answers that STX with DLE and receives first.
#pragma once

#include <cstddef>
#include <deque>

#include "tools/simulator/SimTypes.h"

namespace sim {

using namespace std::chrono_literals;

struct LinkConfig {
  Micros charDelay = 220ms;        // longest gap allowed between the bytes of a received telegram
  Micros ackDelay = 2000ms;        // longest wait for the DLE after our STX and after our telegram
  int attempts = 6;                // transmissions of one telegram before it is given up
  bool highPriority = true;        // keeps its own request when both sides send STX
  Micros byteTime = 0us;           // wire time of one byte (0 on an unpaced line)
  std::size_t maxTelegram = 4096;  // longest data part accepted; longer ones are refused
  // Faults.
  int nakFirst = 0;   // answer NAK instead of the final DLE to the first N good telegrams
  int ignoreStx = 0;  // leave the peer's first N STX unanswered
};

// How a reception ended.
enum class RxStatus {
  kOk,           // acknowledged with DLE
  kNakInjected,  // good, but refused with NAK by the nakFirst fault
  kBccError,     // BCC did not match: NAK
  kFormatError,  // DLE followed by a byte other than DLE or ETX: NAK
  kTooLong,      // more than maxTelegram data bytes: NAK
  kCharTimeout,  // the telegram stopped before its end: NAK
};
const char* RxStatusName(RxStatus status);

struct RxTelegram {
  Bytes data;    // un-doubled data (what arrived up to the failure for a broken one)
  Micros start;  // first byte began to arrive
  Micros end;    // the last byte (the BCC) arrived, or the time-out
  RxStatus status;
  bool repetition;  // came after a failed reception, so the peer is repeating
};

enum class LinkEvent {
  kNakSent,
  kNakReceived,   // the peer refused our STX or our telegram
  kWrongAnswer,   // the peer answered our STX or telegram with something else
  kGrantTimeout,  // no DLE after our STX
  kAckTimeout,    // no final DLE after our telegram
  kCharTimeout,   // the peer's telegram stopped
  kConflict,      // the peer's STX crossed ours; we gave way
  kRepetition,    // we start another attempt for the same telegram
  kGivenUp,       // a telegram failed `attempts` times
  kStxIgnored,    // fault: the peer's STX stayed unanswered
  kStrayByte,     // a byte other than STX while idle
};
inline constexpr std::size_t kLinkEventCount = 11;
const char* LinkEventName(LinkEvent event);

// Answer times, each from the end of the last byte of one side to the start of the other
// side's answer.
enum class Measure {
  kDeviceAnswer,  // our DLE or NAK to the peer's STX or telegram
  kHostAnswer,    // the peer's DLE/NAK to our STX or telegram, or its telegram after our DLE
  kHostPause,     // from our final DLE for the peer's telegram to its next STX
};

class LinkListener {
 public:
  virtual ~LinkListener() = default;
  // Puts bytes on the line; returns when the last of them will have been sent.
  virtual Micros Transmit(const Bytes& bytes, Micros now) = 0;
  // Every reception of a telegram, good or not. Good ones are already acknowledged.
  virtual void Received(const RxTelegram& telegram) = 0;
  // One transmission of a telegram: `attempt` counts from 1.
  virtual void Transmitted(const Bytes& data, Micros start, Micros end, int attempt) = 0;
  // The final outcome of a telegram handed to Send.
  virtual void SendDone(const Bytes& data, bool delivered, Micros now) = 0;
  virtual void Event(LinkEvent event, Micros now) = 0;
  virtual void Measured(Measure what, Micros duration) = 0;
};

class Link3964 {
 public:
  Link3964(const LinkConfig& config, LinkListener& listener);

  void Send(const Bytes& telegram, Micros now);
  void Receive(unsigned char byte, Micros at);
  void Poll(Micros now);
  Micros NextDeadline() const;

  // No telegram waits or is in transit, and no reception runs.
  bool Idle() const { return state_ == State::kIdle && queue_.empty(); }
  // The telegram frame as it goes on the line: doubled DLEs, DLE, ETX, BCC.
  static Bytes Frame(const Bytes& data);

 private:
  enum class State { kIdle, kReceiving, kAwaitGrant, kAwaitAck };

  void ReceiveIdle(unsigned char byte, Micros at);
  void StartReception(Micros dleEnd, bool afterConflict);
  void ReceiveData(unsigned char byte, Micros at);
  void FinishReception(RxStatus status, Micros at);
  void AnswerGrant(unsigned char byte, Micros at);
  void AnswerAck(unsigned char byte, Micros at);
  void AttemptFailed(Micros now, Micros pause);
  void TryStart(Micros now);
  Micros Put(unsigned char byte, Micros now);
  Micros StartOf(Micros arrival) const;

  LinkConfig config_;
  LinkListener& listener_;
  State state_ = State::kIdle;
  Micros deadline_ = kNever;
  Micros lastSentEnd_{0};  // end of our last byte that the peer is expected to answer

  // Reception.
  Bytes rxData_;
  unsigned char rxBcc_ = 0;
  std::size_t rxCount_ = 0;  // bytes of the current telegram so far
  bool rxEscape_ = false;
  bool rxAwaitBcc_ = false;
  bool rxConflict_ = false;
  bool rxTooLong_ = false;
  bool rxFormatError_ = false;
  Micros rxStart_{0};
  bool lastRxFailed_ = false;
  bool lastWasAck_ = false;  // our last byte was the final DLE for a telegram of the peer
  int nakFirst_;
  int ignoreStx_;

  // Transmission.
  std::deque<Bytes> queue_;
  int failures_ = 0;  // failed attempts of the head telegram
  Micros nextStart_{0};
};

}  // namespace sim
