// Small operating-system services of the components.
#pragma once

#include <cstdint>

namespace platform {

// Raises the calling thread to the highest priority an ordinary program may use; false,
// and nothing changed, where the system does not allow it.
bool RaiseThreadPriority();

// A version value of the running operating system (major version in the low byte, minor
// in the next), for diagnostics.
std::int32_t OsVersion();

}  // namespace platform
