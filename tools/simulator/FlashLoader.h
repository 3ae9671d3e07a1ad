// The device's flash loader: what it makes of the telegrams the link procedure hands it.
//
// The entry command puts it into flash mode and is answered with the identification; in
// flash mode every block is written into the flash at its load address; the finish and the
// leave commands end flash mode and are answered with the configured final answer. Answers
// become due after the configured answer delay; the owner takes them with TakeAnswer and
// reports their outcome with AnswerDone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/simulator/SimTypes.h"

namespace sim {

struct DeviceConfig {
  bool shortId = false;  // answer the entry command with 00 02 only
  std::uint8_t revision = 0;
  std::uint8_t major = 3;
  std::uint8_t minor = 0;
  std::optional<std::uint8_t> finishAnswer = 0x01;  // nullopt: no answer at all
  std::optional<std::uint8_t> leaveAnswer = 0x00;
  Micros answerDelay{0};
};

inline constexpr std::uint32_t kFlashBase = 0xE0000;
inline constexpr std::size_t kFlashSize = 131072;
inline constexpr std::size_t kBlockSize = 64;
inline constexpr std::size_t kBlockTelegramSize = 3 + kBlockSize;

struct BlockRecord {
  std::uint32_t address;
  Micros at;
  bool duplicate;  // this address was written before in the same dialogue
  bool changed;    // a duplicate whose content differs from the earlier one
};

struct RejectedTelegram {
  Bytes data;
  Micros at;
  std::string reason;
  bool blockLike;  // looked like a block (67 bytes or a flash address byte) but was not one
};

class FlashLoader {
 public:
  explicit FlashLoader(const DeviceConfig& config);

  // A telegram that the link procedure has received and acknowledged.
  void Telegram(const Bytes& data, Micros now);
  // The next answer if it is due at `now`.
  std::optional<Bytes> TakeAnswer(Micros now);
  // The outcome of an answer taken with TakeAnswer.
  void AnswerDone(const Bytes& answer, bool delivered, Micros now);
  Micros NextDeadline() const;

  // The identification and the final answer for a result byte.
  Bytes Identification() const;
  static Bytes FinalAnswer(std::uint8_t result);
  static const Bytes& EntryCommand();

  const std::vector<std::uint8_t>& Flash() const { return flash_; }
  const std::vector<BlockRecord>& Blocks() const { return blocks_; }
  const std::vector<RejectedTelegram>& Rejected() const { return rejected_; }
  std::size_t BlockTelegrams() const { return blocks_.size(); }
  std::size_t Duplicates() const;
  bool InFlashMode() const { return flashMode_; }
  int Dialogues() const { return dialogues_; }
  // The finish or leave command came and its final answer, if any, has been delivered or
  // given up.
  bool DialogueComplete() const { return complete_; }
  // What ended the last dialogue: "finish" or "leave"; empty while none ended.
  const std::string& Ending() const { return ending_; }

 private:
  void Store(const Bytes& data, Micros now);
  void Reject(const Bytes& data, Micros now, std::string reason, bool blockLike);
  void Answer(Bytes answer, Micros now);
  void EndDialogue(const char* ending, const std::optional<std::uint8_t>& answer, Micros now);

  DeviceConfig config_;
  std::vector<std::uint8_t> flash_;
  std::vector<BlockRecord> blocks_;
  std::vector<RejectedTelegram> rejected_;
  std::set<std::uint32_t> written_;                // addresses written in the current dialogue
  std::vector<std::pair<Micros, Bytes>> pending_;  // answers and when they become due
  std::optional<Bytes> finalAnswer_;  // the final answer whose outcome ends the dialogue
  bool flashMode_ = false;
  bool complete_ = false;
  int dialogues_ = 0;
  std::string ending_;
};

}  // namespace sim
