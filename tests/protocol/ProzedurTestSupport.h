// Shared helpers of the protocol tests: bytes from hex text and hex text from bytes.
#pragma once

#include <cstdio>
#include <string>

#include "util/ByteString.h"

namespace prottest {

// "41 10 03" -> the three bytes; blanks are ignored.
inline ByteString H(const std::string& hex) {
  ByteString out;
  int nibble = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out += static_cast<char>(nibble * 16 + v);
      nibble = -1;
    }
  }
  return out;
}

// Bytes as upper-case hex without separators.
inline std::string Hex(const ByteString& bytes) {
  std::string out;
  char buf[3];
  for (char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    out += buf;
  }
  return out;
}

}  // namespace prottest
