#include "serial/TAxSerialCluster.h"

#include <cstring>

#include "util/ByteText.h"

void TAxSerialCluster::GetData(void* Dest) const {
  if (Dest && !ClusterData.empty()) std::memcpy(Dest, ClusterData.data(), ClusterData.size());
}

char* TAxSerialCluster::GetDataAsPChar(char* Dest) const {
  if (!Dest) return nullptr;
  GetData(Dest);
  Dest[ClusterData.size()] = '\0';
  return Dest;
}

ByteString TAxSerialCluster::GetDataAsHexString() const {
  ByteString hex;
  hex.reserve(ClusterData.size() * 2);
  for (char c : ClusterData) hex += ByteToHex(static_cast<std::uint8_t>(c));
  return hex;
}
