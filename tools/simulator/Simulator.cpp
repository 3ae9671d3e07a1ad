#include "tools/simulator/Simulator.h"

#include <algorithm>
#include <cstdint>

namespace sim {

Simulator::Simulator(const SimConfig& config)
    : config_(config),
      line_(config.line),
      link_(
          [&] {
            LinkConfig link = config.link;
            link.byteTime = line_.ByteTime();
            return link;
          }(),
          *this),
      loader_(config.device) {}

void Simulator::Input(const Bytes& bytes, Micros now) {
  line_.Arrive(bytes, now);
}

void Simulator::Touch(Micros at) {
  firstByte_ = std::min(firstByte_, at);
  lastByte_ = std::max(lastByte_, at);
}

void Simulator::Advance(Micros now) {
  // Everything due up to `now`, in time order, each at its own time.
  for (;;) {
    if (hangupAt_ != kNever) break;  // the line is about to go dead
    const Micros next = std::min(link_.NextDeadline(), loader_.NextDeadline());
    unsigned char byte = 0;
    Micros at{0};
    if (line_.NextInput(std::min(now, next), byte, at)) {
      Touch(at);
      if (!config_.mute) {
        link_.Poll(at);
        SendAnswers(at);
        link_.Receive(byte, at);
      }
      continue;
    }
    if (next > now) break;
    link_.Poll(next);
    SendAnswers(next);
  }
  output_ += line_.TakeOutput(now);
}

void Simulator::SendAnswers(Micros now) {
  while (auto answer = loader_.TakeAnswer(now)) {
    if (config_.mute) continue;
    link_.Send(*answer, now);
  }
}

Bytes Simulator::TakeOutput() {
  Bytes out;
  out.swap(output_);
  return out;
}

Micros Simulator::NextDeadline() const {
  // Before a hang-up only the output up to the last acknowledgement still matters.
  if (hangupAt_ != kNever) return line_.NextOutputDue();
  return std::min(
      {line_.NextInputDue(), line_.NextOutputDue(), link_.NextDeadline(), loader_.NextDeadline()});
}

bool Simulator::HangupDue(Micros now) const {
  return hangupAt_ != kNever && hangupAt_ <= now && !line_.OutputPending();
}

Micros Simulator::Transmit(const Bytes& bytes, Micros now) {
  const Micros end = line_.Transmit(bytes, now);
  Touch(end);
  lastTransmitEnd_ = end;
  return end;
}

void Simulator::Record(TelegramRecord record) {
  telegrams_.push_back(std::move(record));
  if (OnTelegram) OnTelegram(telegrams_.back());
}

void Simulator::Received(const RxTelegram& telegram) {
  if (telegram.repetition) ++hostRepetitions_;
  // A reception that timed out before any byte came is no telegram.
  if (telegram.status != RxStatus::kCharTimeout || !telegram.data.empty()) {
    Record({true, telegram.start, telegram.end, telegram.data, RxStatusName(telegram.status), 0,
            telegram.repetition});
  }
  if (telegram.status != RxStatus::kOk) return;
  loader_.Telegram(telegram.data, telegram.end);
  if (config_.hangupAfter > 0 &&
      loader_.BlockTelegrams() >= static_cast<std::size_t>(config_.hangupAfter)) {
    hangupAt_ = lastTransmitEnd_;  // once the block's acknowledgement is out
    return;
  }
  SendAnswers(telegram.end);
}

void Simulator::Transmitted(const Bytes& data, Micros start, Micros end, int attempt) {
  if (openTx_ < telegrams_.size()) telegrams_[openTx_].status = "failed";
  openTx_ = telegrams_.size();
  Record({false, start, end, data, "sent", attempt, false});
}

void Simulator::SendDone(const Bytes& data, bool delivered, Micros now) {
  if (openTx_ < telegrams_.size()) {
    telegrams_[openTx_].status = delivered ? "delivered" : "failed";
    openTx_ = SIZE_MAX;
  }
  loader_.AnswerDone(data, delivered, now);
  if (config_.hangupAfterAnswer && delivered && loader_.DialogueComplete() && hangupAt_ == kNever) {
    hangupAt_ = now;
    hangupAcknowledged_ = true;
  }
}

void Simulator::Event(LinkEvent event, Micros /*now*/) {
  ++events_[static_cast<std::size_t>(event)];
}

void Simulator::Measured(Measure what, Micros duration) {
  measured_[static_cast<std::size_t>(what)].push_back(duration);
}

}  // namespace sim
