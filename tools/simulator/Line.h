// The serial line between the simulator and the flasher, as the simulator sees it.
//
// On a pseudo-terminal bytes move at once. With a baud rate set, the line makes them take
// their real time (8N1: ten bit times per byte) in both directions: a byte handed to
// Transmit is released for writing only when its stop bit would have gone out, and a byte
// read from the port counts as arrived only when it could have come in. Sent bytes can be
// dropped or corrupted at a given rate, decided by a seeded generator so that a run with
// the same seed and the same traffic repeats its faults exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "tools/simulator/SimTypes.h"

namespace sim {

struct LineConfig {
  unsigned baud = 0;       // 0: no pacing
  double dropRate = 0;     // share of sent bytes that are lost
  double corruptRate = 0;  // share of sent bytes that arrive changed
  std::uint64_t seed = 1;
};

struct LineFault {
  Micros at;            // when the byte went out
  std::uint64_t index;  // position in everything sent, from 0
  unsigned char original;
  int replacement;  // the byte the peer gets, or -1 when it was lost
};

// Times of the bytes of one direction: a byte takes its wire time after the one before it,
// or after it was handed in when the line was idle. Exact over long runs (no rounding
// drift), since each time is computed from the start of the current burst.
class Pacer {
 public:
  explicit Pacer(unsigned baud) : baud_(baud) {}
  Micros Next(Micros now);
  Micros ByteTime() const;
  Micros BusyUntil() const { return end_; }

 private:
  unsigned baud_;
  Micros anchor_{0};
  std::uint64_t count_ = 0;
  Micros end_{0};
};

class Line {
 public:
  explicit Line(const LineConfig& config);

  Micros ByteTime() const { return out_.ByteTime(); }

  // Sending: returns when the last byte will have gone out.
  Micros Transmit(const Bytes& bytes, Micros now);
  // The bytes due for writing at `now`, with the faults applied.
  Bytes TakeOutput(Micros now);
  bool OutputPending() const { return !outQueue_.empty(); }

  // Receiving: bytes read from the port at `now`.
  void Arrive(const Bytes& bytes, Micros now);
  // Received bytes that have not arrived yet.
  std::size_t InputBacklog() const { return inQueue_.size(); }
  // Takes the oldest received byte if it has arrived by `limit`.
  bool NextInput(Micros limit, unsigned char& byte, Micros& at);

  // The earliest time a queued byte becomes due, kNever when none waits.
  Micros NextInputDue() const { return inQueue_.empty() ? kNever : inQueue_.front().due; }
  Micros NextOutputDue() const { return outQueue_.empty() ? kNever : outQueue_.front().due; }

  const std::vector<LineFault>& Faults() const { return faults_; }
  std::uint64_t BytesSent() const { return sent_; }
  std::uint64_t BytesReceived() const { return received_; }

 private:
  struct Timed {
    Micros due;
    unsigned char byte;
    bool lost;
  };
  double Uniform();

  LineConfig config_;
  Pacer out_;
  Pacer in_;
  std::mt19937_64 random_;
  std::deque<Timed> outQueue_;
  std::deque<Timed> inQueue_;
  std::vector<LineFault> faults_;
  std::uint64_t sent_ = 0;
  std::uint64_t received_ = 0;
};

}  // namespace sim
