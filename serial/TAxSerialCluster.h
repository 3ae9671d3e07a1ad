// A block of received bytes as the worker thread cut it from the line, with the line error
// bits (CE_ values) of the status poll before it was read. A cluster may be empty and then
// only carries error bits.
//
// Main thread only once it has been queued.
#pragma once

#include <cstdint>

#include "util/ByteString.h"

class TAxSerialCluster : public TObject {
 public:
  // Adopts the bytes.
  TAxSerialCluster(ByteString Data, std::uint32_t CCError)
      : ClusterData(std::move(Data)), ClusterCCError(CCError) {}

  std::uint32_t GetCCError() const { return ClusterCCError; }
  std::uint32_t GetSize() const { return static_cast<std::uint32_t>(ClusterData.size()); }
  // Copies all bytes to Dest; nothing when Dest is null.
  void GetData(void* Dest) const;
  const ByteString& GetDataAsString() const { return ClusterData; }
  // Copies the bytes and a closing zero byte to Dest (size + 1 bytes) and returns Dest;
  // null and nothing written when Dest is null.
  char* GetDataAsPChar(char* Dest) const;
  // Two upper-case hexadecimal digits per byte, no separators.
  ByteString GetDataAsHexString() const;

 private:
  ByteString ClusterData;
  std::uint32_t ClusterCCError;
};
