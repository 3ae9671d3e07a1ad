// TEMPORARY: the base-class members of the connection component that the protocol tests
// link against, until the connection component itself is on this branch. The tests run the
// protocol component on a stand-in line that overrides the virtual members; these bodies only
// satisfy the linker. Delete this file (and tests/protocol/stubs/) when the real one lands.
#include "connection/TDoVuverUve.h"

TDoVuverUve::TDoVuverUve(TObject* AOwner, platform::MainLoop& loop) : fLoop(loop), fOwner(AOwner) {}
TDoVuverUve::~TDoVuverUve() = default;

void TDoVuverUve::SetDaVevureRez(TDaVevureRez* Value) {
  fDaVevureRez = Value;
}
void TDoVuverUve::SetActive(bool Value) {
  fActive = Value;
}
void TDoVuverUve::SendeDaten(const void*, std::uint32_t) {}
std::uint32_t TDoVuverUve::GetNextClusterSize() {
  return 0;
}
ByteString TDoVuverUve::ReadNextCluster(std::uint32_t& ClusterSize) {
  ClusterSize = 0;
  return {};
}
