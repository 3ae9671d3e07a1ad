// TEMPORARY stand-in for the serial port component's header, until the component itself is
// on this branch: only the two extra delays that the protocol component writes. Delete it
// together with tests/protocol/ConnectionStubForNow.cpp.
#pragma once

#include <cstdint>

#include "util/ByteString.h"

class TDaVevureRez : public TObject {
 public:
  std::uint32_t RTOExtraDelayTime() const { return fRTOExtraDelayTime; }
  void SetRTOExtraDelayTime(std::uint32_t Value) { fRTOExtraDelayTime = Value; }
  std::uint32_t WTOExtraDelayTime() const { return fWTOExtraDelayTime; }
  void SetWTOExtraDelayTime(std::uint32_t Value) { fWTOExtraDelayTime = Value; }

 private:
  std::uint32_t fRTOExtraDelayTime = 250;
  std::uint32_t fWTOExtraDelayTime = 250;
};
