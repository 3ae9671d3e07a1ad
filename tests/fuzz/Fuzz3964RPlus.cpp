// libFuzzer target: the 3964R-Plus receive procedure, block mode included.
#include "tests/fuzz/ProtocolFuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Run(data, size, TProtokoll::p3964RPlus);
  return 0;
}
