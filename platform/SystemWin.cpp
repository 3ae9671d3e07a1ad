#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/System.h"
#include "platform/WinText.h"

namespace platform {

// The highest of the normal levels; the real-time class is not used, as a runaway
// real-time thread could freeze the machine.
bool RaiseThreadPriority() {
  return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
std::int32_t OsVersion() {
  return static_cast<std::int32_t>(GetVersion());
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

bool LocalTime(std::time_t seconds, std::tm& tm) {
  return localtime_s(&tm, &seconds) == 0;
}

std::FILE* OpenForReading(const std::string& path) {
  // Not inherited ("N"), binary. A folder does not open here, where Linux opens it and fails
  // to read it: either way the reason is that it is one.
  const std::wstring wide = WideFromUtf8(path);
  std::FILE* file = _wfopen(wide.c_str(), L"rbN");
  if (!file) {
    const int err = errno;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    errno = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                ? EISDIR
                : err;
  }
  return file;
}

std::string FileNamePart(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ExecutablePath(const char* argv0) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int i = 0; i < 8; ++i) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) break;
    if (n < buffer.size()) {
      buffer.resize(n);
      return Utf8FromWide(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
  return argv0 ? argv0 : "";
}

std::string DevicePath(const std::string& name) {
  return "\\\\.\\" + name.substr(0, kPortNameLimit);
}

std::uint32_t InvalidHandleError() {
  return ERROR_INVALID_HANDLE;
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

std::wstring WideFromBytes(std::string_view bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (char c : bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

std::string BytesFromWide(std::wstring_view wide) {
  std::string bytes;
  bytes.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c <= 0xFF) {
      bytes += static_cast<char>(c);
      continue;
    }
    // Keep a surrogate pair together.
    std::size_t len = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) len = 2;
    bytes += Utf8FromWide(wide.substr(i, len));
    i += len - 1;
  }
  return bytes;
}

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, 0);
  // Not UTF-8 at all: take the bytes as they are.
  if (n <= 0) return WideFromBytes(utf8);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}

}  // namespace platform
