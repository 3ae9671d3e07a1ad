#include "tools/simulator/FlashLoader.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

const Bytes kFinishCommand("\xF0\x0A\x01", 3);
const Bytes kLeaveCommand("\xF0\x0A\x00", 3);

std::string AddressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(address));
  return text;
}

// The load address in the first three bytes of a block.
std::uint32_t BlockAddress(const Bytes& block) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(block[0])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(block[1])) << 8 |
         static_cast<unsigned char>(block[2]);
}

}  // namespace

FlashLoader::FlashLoader(const DeviceConfig& config) : config_(config), flash_(kFlashSize, 0xFF) {}

const Bytes& FlashLoader::EntryCommand() {
  static const Bytes kEntry = Bytes("\x00\x02\xF0\x00", 4) + "Riduvedari";
  return kEntry;
}

Bytes FlashLoader::Identification() const {
  Bytes id("\x00\x02", 2);
  if (!config_.shortId) {
    id += static_cast<char>(config_.revision);
    id += static_cast<char>(config_.major);
    id += static_cast<char>(config_.minor);
  }
  return id;
}

Bytes FlashLoader::FinalAnswer(std::uint8_t result) {
  Bytes answer("\x00\x02\xF0\x0A", 4);
  answer += static_cast<char>(result);
  return answer;
}

void FlashLoader::Telegram(const Bytes& data, Micros now) {
  if (data == EntryCommand()) {
    // A new dialogue; the flash keeps what earlier ones wrote.
    flashMode_ = true;
    complete_ = false;
    ending_.clear();
    finalAnswer_.reset();
    written_.clear();
    ++dialogues_;
    Answer(Identification(), now);
    return;
  }
  if (data == kFinishCommand) {
    EndDialogue("finish", config_.finishAnswer, now);
    return;
  }
  if (data == kLeaveCommand) {
    EndDialogue("leave", config_.leaveAnswer, now);
    return;
  }
  const int first = data.empty() ? -1 : static_cast<unsigned char>(data[0]);
  const bool blockLike = data.size() == kBlockTelegramSize || first == 0x0E || first == 0x0F;
  if (!blockLike) {
    Reject(data, now, "unknown telegram", false);
    return;
  }
  if (!flashMode_) {
    Reject(data, now, "block outside flash mode", true);
    return;
  }
  if (data.size() != kBlockTelegramSize) {
    Reject(data, now, "block of " + std::to_string(data.size()) + " bytes", true);
    return;
  }
  const std::uint32_t address = BlockAddress(data);
  if (address < kFlashBase || address - kFlashBase > kFlashSize - kBlockSize) {
    Reject(data, now, "address " + AddressText(address) + " outside the flash", true);
    return;
  }
  if (address % kBlockSize != 0) {
    Reject(data, now, "address " + AddressText(address) + " not on a block boundary", true);
    return;
  }
  Store(data, now);
}

void FlashLoader::Store(const Bytes& data, Micros now) {
  const std::uint32_t address = BlockAddress(data);
  const std::size_t offset = address - kFlashBase;
  const bool duplicate = written_.contains(address);
  const bool changed =
      duplicate &&
      !std::equal(data.begin() + 3, data.end(), flash_.begin() + offset,
                  [](char a, std::uint8_t b) { return static_cast<unsigned char>(a) == b; });
  std::transform(data.begin() + 3, data.end(), flash_.begin() + offset,
                 [](char c) { return static_cast<std::uint8_t>(c); });
  written_.insert(address);
  blocks_.push_back({address, now, duplicate, changed});
}

void FlashLoader::Reject(const Bytes& data, Micros now, std::string reason, bool blockLike) {
  rejected_.push_back({data, now, std::move(reason), blockLike});
}

void FlashLoader::EndDialogue(const char* ending, const std::optional<std::uint8_t>& answer,
                              Micros now) {
  flashMode_ = false;
  ending_ = ending;
  if (answer) {
    finalAnswer_ = FinalAnswer(*answer);
    Answer(*finalAnswer_, now);
  } else {
    finalAnswer_.reset();
    complete_ = true;
  }
}

void FlashLoader::Answer(Bytes answer, Micros now) {
  pending_.emplace_back(now + config_.answerDelay, std::move(answer));
}

std::optional<Bytes> FlashLoader::TakeAnswer(Micros now) {
  if (pending_.empty() || pending_.front().first > now) return std::nullopt;
  Bytes answer = std::move(pending_.front().second);
  pending_.erase(pending_.begin());
  return answer;
}

void FlashLoader::AnswerDone(const Bytes& answer, bool /*delivered*/, Micros /*now*/) {
  if (finalAnswer_ && answer == *finalAnswer_ && !flashMode_) {
    finalAnswer_.reset();
    complete_ = true;
  }
}

Micros FlashLoader::NextDeadline() const {
  return pending_.empty() ? kNever : pending_.front().first;
}

std::size_t FlashLoader::Duplicates() const {
  return static_cast<std::size_t>(std::count_if(blocks_.begin(), blocks_.end(),
                                                [](const BlockRecord& b) { return b.duplicate; }));
}

}  // namespace sim
