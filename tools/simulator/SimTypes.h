// Basic types of the device simulator.
//
// The simulator's logic never reads a clock: every step is handed the current time as a
// duration since the simulator started, so tests drive it with a virtual clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace sim {

using Micros = std::chrono::microseconds;
using Bytes = std::string;  // raw bytes, zeros allowed

inline constexpr Micros kNever = Micros::max();

// Control characters of the link procedure.
namespace ctl {
inline constexpr unsigned char kSTX = 0x02;
inline constexpr unsigned char kETX = 0x03;
inline constexpr unsigned char kDLE = 0x10;
inline constexpr unsigned char kNAK = 0x15;
}  // namespace ctl

// "00 02 F0" for the bytes 0x00 0x02 0xF0.
std::string HexBytes(const Bytes& bytes);

}  // namespace sim
