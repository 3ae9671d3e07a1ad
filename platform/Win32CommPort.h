// Pieces of the Windows comm port that are pure functions of their input, declared here so
// that they can be tested without a device: the line description in the system's DCB, and
// the hold flags of its COMSTAT.
#pragma once

// The seam's names first: <windows.h> defines the same names as macros of equal value.
// clang-format off
#include "platform/CommPort.h"
#include <windows.h>
// clang-format on

namespace platform {

void DcbToWin32(const CommDcb& dcb, DCB& win);
void Win32ToDcb(const DCB& win, CommDcb& dcb);
std::uint8_t HoldFlags(const COMSTAT& stat);

}  // namespace platform
