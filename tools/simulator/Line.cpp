#include "tools/simulator/Line.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::uint64_t kMicrosPerSecond = 1'000'000;

}  // namespace

Micros Pacer::ByteTime() const {
  if (baud_ == 0) return Micros{0};
  return Micros{static_cast<Micros::rep>((kBitsPerByte * kMicrosPerSecond + baud_ / 2) / baud_)};
}

Micros Pacer::Next(Micros now) {
  if (baud_ == 0) return now;
  if (count_ == 0 || now >= end_) {  // the line was idle: a new burst starts now
    anchor_ = now;
    count_ = 0;
  }
  ++count_;
  // Round up so that a byte is never released before its time.
  const std::uint64_t micros = (count_ * kBitsPerByte * kMicrosPerSecond + baud_ - 1) / baud_;
  end_ = anchor_ + Micros{static_cast<Micros::rep>(micros)};
  return end_;
}

Line::Line(const LineConfig& config)
    : config_(config), out_(config.baud), in_(config.baud), random_(config.seed) {}

double Line::Uniform() {
  return static_cast<double>(random_() >> 11) * 0x1.0p-53;  // 53 random bits in [0, 1)
}

Micros Line::Transmit(const Bytes& bytes, Micros now) {
  Micros end = now;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    end = out_.Next(now);
    Timed timed{end, byte, false};
    if (config_.dropRate > 0 || config_.corruptRate > 0) {
      const double draw = Uniform();
      if (draw < config_.dropRate) {
        timed.lost = true;
        faults_.push_back({end, sent_, byte, -1});
      } else if (draw < config_.dropRate + config_.corruptRate) {
        const auto flip = static_cast<unsigned char>(1 + random_() % 255);  // never 0
        timed.byte = static_cast<unsigned char>(byte ^ flip);
        faults_.push_back({end, sent_, byte, timed.byte});
      }
    }
    ++sent_;
    outQueue_.push_back(timed);
  }
  return end;
}

Bytes Line::TakeOutput(Micros now) {
  Bytes due;
  while (!outQueue_.empty() && outQueue_.front().due <= now) {
    if (!outQueue_.front().lost) due += static_cast<char>(outQueue_.front().byte);
    outQueue_.pop_front();
  }
  return due;
}

void Line::Arrive(const Bytes& bytes, Micros now) {
  for (const char c : bytes) {
    // A byte read now started on the wire at the earliest now: it is complete one byte
    // time later, or one byte time after the byte before it.
    const Micros due = config_.baud == 0 ? now : in_.Next(now);
    inQueue_.push_back({due, static_cast<unsigned char>(c), false});
    ++received_;
  }
}

bool Line::NextInput(Micros limit, unsigned char& byte, Micros& at) {
  if (inQueue_.empty() || inQueue_.front().due > limit) return false;
  byte = inQueue_.front().byte;
  at = inQueue_.front().due;
  inQueue_.pop_front();
  return true;
}

}  // namespace sim
