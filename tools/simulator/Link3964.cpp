#include "tools/simulator/Link3964.h"

#include <algorithm>

namespace sim {

namespace {

Micros NotNegative(Micros d) {
  return std::max(d, Micros{0});
}

}  // namespace

const char* RxStatusName(RxStatus status) {
  switch (status) {
    case RxStatus::kOk:
      return "ok";
    case RxStatus::kNakInjected:
      return "nak-injected";
    case RxStatus::kBccError:
      return "bcc-error";
    case RxStatus::kFormatError:
      return "format-error";
    case RxStatus::kTooLong:
      return "too-long";
    case RxStatus::kCharTimeout:
      return "char-timeout";
  }
  return "?";
}

const char* LinkEventName(LinkEvent event) {
  switch (event) {
    case LinkEvent::kNakSent:
      return "naks_sent";
    case LinkEvent::kNakReceived:
      return "naks_received";
    case LinkEvent::kWrongAnswer:
      return "wrong_answers";
    case LinkEvent::kGrantTimeout:
      return "grant_timeouts";
    case LinkEvent::kAckTimeout:
      return "ack_timeouts";
    case LinkEvent::kCharTimeout:
      return "char_timeouts";
    case LinkEvent::kConflict:
      return "conflicts";
    case LinkEvent::kRepetition:
      return "device_repetitions";
    case LinkEvent::kGivenUp:
      return "telegrams_given_up";
    case LinkEvent::kStxIgnored:
      return "stx_ignored";
    case LinkEvent::kStrayByte:
      return "stray_bytes";
  }
  return "?";
}

Link3964::Link3964(const LinkConfig& config, LinkListener& listener)
    : config_(config),
      listener_(listener),
      nakFirst_(config.nakFirst),
      ignoreStx_(config.ignoreStx) {}

Bytes Link3964::Frame(const Bytes& data) {
  Bytes frame;
  frame.reserve(data.size() + 8);
  for (const char c : data) {
    frame += c;
    if (static_cast<unsigned char>(c) == ctl::kDLE) frame += c;
  }
  frame += static_cast<char>(ctl::kDLE);
  frame += static_cast<char>(ctl::kETX);
  unsigned char bcc = 0;
  for (const char c : frame) bcc ^= static_cast<unsigned char>(c);
  frame += static_cast<char>(bcc);
  return frame;
}

Micros Link3964::Put(unsigned char byte, Micros now) {
  return listener_.Transmit(Bytes(1, static_cast<char>(byte)), now);
}

Micros Link3964::StartOf(Micros arrival) const {
  return arrival - config_.byteTime;
}

void Link3964::Send(const Bytes& telegram, Micros now) {
  queue_.push_back(telegram);
  TryStart(now);
}

void Link3964::TryStart(Micros now) {
  if (state_ != State::kIdle || queue_.empty() || now < nextStart_) return;
  if (failures_ > 0) listener_.Event(LinkEvent::kRepetition, now);
  lastSentEnd_ = Put(ctl::kSTX, now);
  lastWasAck_ = false;
  state_ = State::kAwaitGrant;
  deadline_ = lastSentEnd_ + config_.ackDelay;
}

void Link3964::Receive(unsigned char byte, Micros at) {
  switch (state_) {
    case State::kIdle:
      ReceiveIdle(byte, at);
      return;
    case State::kReceiving:
      ReceiveData(byte, at);
      return;
    case State::kAwaitGrant:
      AnswerGrant(byte, at);
      return;
    case State::kAwaitAck:
      AnswerAck(byte, at);
      return;
  }
}

void Link3964::ReceiveIdle(unsigned char byte, Micros at) {
  if (byte != ctl::kSTX) {
    listener_.Event(LinkEvent::kStrayByte, at);
    return;
  }
  if (ignoreStx_ > 0) {
    --ignoreStx_;
    listener_.Event(LinkEvent::kStxIgnored, at);
    return;
  }
  if (lastWasAck_) {
    listener_.Measured(Measure::kHostPause, NotNegative(StartOf(at) - lastSentEnd_));
  }
  const Micros dleEnd = Put(ctl::kDLE, at);
  listener_.Measured(Measure::kDeviceAnswer, NotNegative(dleEnd - config_.byteTime - at));
  StartReception(dleEnd, false);
}

void Link3964::StartReception(Micros dleEnd, bool afterConflict) {
  state_ = State::kReceiving;
  rxData_.clear();
  rxBcc_ = 0;
  rxCount_ = 0;
  rxEscape_ = rxAwaitBcc_ = rxTooLong_ = rxFormatError_ = false;
  rxConflict_ = afterConflict;
  rxStart_ = dleEnd;
  lastSentEnd_ = dleEnd;
  lastWasAck_ = false;
  // The first byte must follow our DLE within the character delay time as well.
  deadline_ = dleEnd + config_.charDelay;
}

void Link3964::ReceiveData(unsigned char byte, Micros at) {
  if (rxCount_ == 0) {
    rxStart_ = StartOf(at);
    if (!rxConflict_)
      listener_.Measured(Measure::kHostAnswer, NotNegative(rxStart_ - lastSentEnd_));
  }
  ++rxCount_;
  deadline_ = at + config_.charDelay;
  if (rxAwaitBcc_) {
    RxStatus status = RxStatus::kOk;
    if (rxFormatError_) {
      status = RxStatus::kFormatError;
    } else if (rxTooLong_) {
      status = RxStatus::kTooLong;
    } else if (byte != rxBcc_) {
      status = RxStatus::kBccError;
    }
    FinishReception(status, at);
    return;
  }
  rxBcc_ ^= byte;
  auto append = [this](unsigned char b) {
    if (rxData_.size() >= config_.maxTelegram) {
      rxTooLong_ = true;  // keep reading to the end, but keep memory bounded
    } else {
      rxData_ += static_cast<char>(b);
    }
  };
  if (rxEscape_) {
    rxEscape_ = false;
    if (byte == ctl::kDLE) {
      append(byte);
    } else if (byte == ctl::kETX) {
      rxAwaitBcc_ = true;
    } else if (rxConflict_ && rxCount_ == 2) {
      // A peer that gives way as well answers our STX with DLE and then takes our DLE
      // for its grant: its lone DLE precedes the telegram and belongs to no telegram.
      rxBcc_ = byte;
      rxStart_ = StartOf(at);
      append(byte);
    } else {
      rxFormatError_ = true;  // an error is answered only at the telegram's end
    }
    return;
  }
  if (byte == ctl::kDLE) {
    rxEscape_ = true;
  } else {
    append(byte);
  }
}

void Link3964::FinishReception(RxStatus status, Micros at) {
  state_ = State::kIdle;
  deadline_ = kNever;
  if (status == RxStatus::kOk && nakFirst_ > 0) {
    --nakFirst_;
    status = RxStatus::kNakInjected;
  }
  const bool good = status == RxStatus::kOk;
  const Micros end = Put(good ? ctl::kDLE : ctl::kNAK, at);
  if (status == RxStatus::kCharTimeout) {
    listener_.Event(LinkEvent::kCharTimeout, at);
  } else {
    listener_.Measured(Measure::kDeviceAnswer, NotNegative(end - config_.byteTime - at));
  }
  if (!good) listener_.Event(LinkEvent::kNakSent, at);
  const RxTelegram telegram{rxData_, rxStart_, at, status, lastRxFailed_};
  lastRxFailed_ = !good;
  lastSentEnd_ = end;
  lastWasAck_ = good;
  // Answered first: a listener that sends in return finds the line procedure idle.
  listener_.Received(telegram);
  TryStart(at);
}

void Link3964::AnswerGrant(unsigned char byte, Micros at) {
  if (byte == ctl::kSTX) {
    listener_.Event(LinkEvent::kConflict, at);
    // The high-priority side keeps waiting for the DLE of the peer, which has to give way.
    if (config_.highPriority) return;
    const Micros dleEnd = Put(ctl::kDLE, at);
    listener_.Measured(Measure::kDeviceAnswer, NotNegative(dleEnd - config_.byteTime - at));
    StartReception(dleEnd, true);  // our telegram stays queued; the conflict costs no attempt
    return;
  }
  listener_.Measured(Measure::kHostAnswer, NotNegative(StartOf(at) - lastSentEnd_));
  if (byte != ctl::kDLE) {
    listener_.Event(byte == ctl::kNAK ? LinkEvent::kNakReceived : LinkEvent::kWrongAnswer, at);
    AttemptFailed(at, config_.charDelay);
    return;
  }
  const Bytes& data = queue_.front();
  const Bytes frame = Frame(data);
  const Micros end = listener_.Transmit(frame, at);
  const auto wire = config_.byteTime * static_cast<Micros::rep>(frame.size());
  listener_.Transmitted(data, end - wire, end, failures_ + 1);
  lastSentEnd_ = end;
  state_ = State::kAwaitAck;
  deadline_ = end + config_.ackDelay;
}

void Link3964::AnswerAck(unsigned char byte, Micros at) {
  listener_.Measured(Measure::kHostAnswer, NotNegative(StartOf(at) - lastSentEnd_));
  if (byte != ctl::kDLE) {
    listener_.Event(byte == ctl::kNAK ? LinkEvent::kNakReceived : LinkEvent::kWrongAnswer, at);
    AttemptFailed(at, config_.charDelay);
    return;
  }
  const Bytes data = queue_.front();
  queue_.pop_front();
  failures_ = 0;
  state_ = State::kIdle;
  deadline_ = kNever;
  listener_.SendDone(data, true, at);
  TryStart(at);
}

void Link3964::AttemptFailed(Micros now, Micros pause) {
  state_ = State::kIdle;
  deadline_ = kNever;
  // After a refusal the peer may still be busy with the line; after a time-out it is not.
  nextStart_ = now + pause;
  if (++failures_ >= config_.attempts) {
    const Bytes data = queue_.front();
    queue_.pop_front();
    failures_ = 0;
    listener_.Event(LinkEvent::kGivenUp, now);
    listener_.SendDone(data, false, now);
  }
  TryStart(now);
}

void Link3964::Poll(Micros now) {
  if (state_ != State::kIdle && deadline_ <= now) {
    switch (state_) {
      case State::kReceiving:
        FinishReception(RxStatus::kCharTimeout, now);
        break;
      case State::kAwaitGrant:
        listener_.Event(LinkEvent::kGrantTimeout, now);
        AttemptFailed(now, Micros{0});
        break;
      case State::kAwaitAck:
        listener_.Event(LinkEvent::kAckTimeout, now);
        AttemptFailed(now, Micros{0});
        break;
      case State::kIdle:
        break;
    }
  }
  TryStart(now);
}

Micros Link3964::NextDeadline() const {
  if (state_ != State::kIdle) return deadline_;
  return queue_.empty() ? kNever : nextStart_;
}

}  // namespace sim
