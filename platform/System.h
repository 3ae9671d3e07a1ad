// Small operating-system services of the components.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

// Raises the calling thread to the highest priority an ordinary program may use; false,
// and nothing changed, where the system does not allow it.
bool RaiseThreadPriority();

// A version value of the running operating system (major version in the low byte, minor
// in the next), for diagnostics.
std::int32_t OsVersion();

// The local calendar time of `seconds`; false where the system cannot tell it.
bool LocalTime(std::time_t seconds, std::tm& tm);

// Opens a file for reading bytes (the path in UTF-8); null with errno set on failure. The
// file is not inherited by programs started meanwhile.
std::FILE* OpenForReading(const std::string& path);

// The file name part of a path (no folder): after the last '/' on Linux, after the last
// '/', '\\' or drive colon on Windows.
std::string FileNamePart(const std::string& path);

// The path of the running program: the name it was started under (`argv0`) on Linux, where
// a link's name counts; the module's own path on Windows.
std::string ExecutablePath(const char* argv0);

// The path that opens the serial port called `name`. Of a bare name at most the first
// `kPortNameLimit` characters count, the limit of the Windows device namespace. Linux: an
// absolute path as it is, whole (stable names under /dev/serial/by-id/ are often longer), a
// bare name below /dev/. Windows: "\\.\" followed by the name.
inline constexpr std::size_t kPortNameLimit = 75;
std::string DevicePath(const std::string& name);

// The error code of a call on a port handle that is not open: EBADF on Linux,
// ERROR_INVALID_HANDLE on Windows.
std::uint32_t InvalidHandleError();

// Whether `stream` is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

}  // namespace platform
