// The check values this system puts on the wire.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, initial and final XOR all ones).
std::uint32_t BerechneCRC32(const void* Data, std::size_t Len);

// The 16-bit check value of the send framing: the most-significant-bit-first table of
// polynomial 0x1021 with a right-shifting update, starting at 0xFFFF, no final XOR. This
// pairing is deliberate and is not CRC-16/CCITT-FALSE ("abc" gives 0x3C5F).
std::uint16_t BerechneCRC16(const void* Data, std::size_t Len);
