// libFuzzer target: the 3964R receive procedure with everything around it.
#include "tests/fuzz/ProtocolFuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Run(data, size, TProtokoll::p3964R);
  return 0;
}
