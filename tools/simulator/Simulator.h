// The simulated device as a whole: the line, the link procedure and the flash loader, plus
// the record of everything that happened for the report.
//
// Single-threaded and clock-free: the owner feeds the bytes read from the port with Input,
// calls Advance with the current time (at the latest at NextDeadline()), and writes what
// TakeOutput returns to the port.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/simulator/FlashLoader.h"
#include "tools/simulator/Line.h"
#include "tools/simulator/Link3964.h"

namespace sim {

struct SimConfig {
  LinkConfig link;
  LineConfig line;
  DeviceConfig device;
  bool mute = false;    // fault: read everything, answer nothing
  int hangupAfter = 0;  // fault: hang up once this many blocks were acknowledged (0: never)
  bool hangupAfterAnswer = false;  // hang up once the final answer is acknowledged, as a
                                   // device that restarts when it leaves flash mode
};

struct TelegramRecord {
  bool fromHost;
  Micros start;
  Micros end;
  Bytes data;
  std::string status;  // host: how the reception ended; device: "delivered" or "failed"
  int attempt;         // device: transmission number of this telegram, from 1
  bool repetition;     // host: came after a failed reception
};

class Simulator : private LinkListener {
 public:
  explicit Simulator(const SimConfig& config);

  void Input(const Bytes& bytes, Micros now);
  void Advance(Micros now);
  Bytes TakeOutput();
  Micros NextDeadline() const;

  // The configured hang-up is due: the acknowledgement of the last block has gone out.
  bool HangupDue(Micros now) const;
  // The hang-up follows an acknowledgement the flasher sent: it has read everything.
  bool HangupAfterAcknowledgement() const { return hangupAcknowledged_; }
  bool DialogueComplete() const { return loader_.DialogueComplete(); }
  // Nothing waits to be written or sent, and no telegram is in transit.
  bool Quiet() const { return output_.empty() && !line_.OutputPending() && link_.Idle(); }

  const SimConfig& Config() const { return config_; }
  const FlashLoader& Device() const { return loader_; }
  const Line& GetLine() const { return line_; }
  const std::vector<TelegramRecord>& Telegrams() const { return telegrams_; }
  int Count(LinkEvent event) const { return events_[static_cast<std::size_t>(event)]; }
  int HostRepetitions() const { return hostRepetitions_; }
  const std::vector<Micros>& Measurements(Measure what) const {
    return measured_[static_cast<std::size_t>(what)];
  }
  Micros FirstByte() const { return firstByte_; }
  Micros LastByte() const { return lastByte_; }

  // Called for every telegram record as it is made (for a running log).
  std::function<void(const TelegramRecord&)> OnTelegram;

 private:
  Micros Transmit(const Bytes& bytes, Micros now) override;
  void Received(const RxTelegram& telegram) override;
  void Transmitted(const Bytes& data, Micros start, Micros end, int attempt) override;
  void SendDone(const Bytes& data, bool delivered, Micros now) override;
  void Event(LinkEvent event, Micros now) override;
  void Measured(Measure what, Micros duration) override;

  void SendAnswers(Micros now);
  void Touch(Micros at);
  void Record(TelegramRecord record);

  SimConfig config_;
  Line line_;
  Link3964 link_;
  FlashLoader loader_;
  Bytes output_;
  std::vector<TelegramRecord> telegrams_;
  std::size_t openTx_ = SIZE_MAX;  // the device telegram record awaiting its outcome
  std::array<int, kLinkEventCount> events_{};
  std::array<std::vector<Micros>, 3> measured_;
  int hostRepetitions_ = 0;
  Micros firstByte_ = kNever;
  Micros lastByte_{0};
  Micros lastTransmitEnd_{0};
  Micros hangupAt_ = kNever;
  bool hangupAcknowledged_ = false;
};

}  // namespace sim
