// Basic types shared by every layer.
//
// ByteString: 8-bit bytes, zeros allowed. Where a byte string holds text meant for people
// (report texts, log lines, port names) the text is UTF-8; a single character value of the
// line settings is one byte 0..255.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using ByteString = std::string;

// The root of the component classes; handlers receive the sender as a TObject*.
class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TNotifyErrorEvent =
    std::function<void(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                       const ByteString& Msg, std::uint8_t Noise)>;

// Control characters of the line procedures.
namespace ctl {
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char DLE = 0x10;
inline constexpr char NAK = 0x15;
}  // namespace ctl
