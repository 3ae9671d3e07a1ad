// The byte buffer of the link protocol layer: outgoing frames are built in it, queued and
// received telegrams are kept in it, and it computes the BCC, CRC-32 and 16-bit check
// values of the line procedures. Positions count from 0; reads beyond the end give 0.
//
// Main thread only, like everything of the protocol layer.
#pragma once

#include <cstdint>

#include "util/ByteString.h"

class TAxProtokollCluster : public TObject {
 public:
  TAxProtokollCluster() = default;
  // Adopts the bytes.
  explicit TAxProtokollCluster(ByteString Data) : ClusterData(std::move(Data)) {}

  std::uint32_t GetSize() const { return static_cast<std::uint32_t>(ClusterData.size()); }
  // Copies all bytes to Dest; nothing when Dest is null.
  void GetData(void* Dest) const;
  const ByteString& GetDataAsString() const { return ClusterData; }
  // Copies the bytes and a terminating 0 to Dest (size + 1 bytes); returns Dest.
  char* GetDataAsPChar(char* Dest) const;
  ByteString GetDataAsHexString() const;

  char GetCharAtPos(std::uint32_t Pos) const { return Pos < GetSize() ? ClusterData[Pos] : '\0'; }
  std::uint8_t GetByteAtPos(std::uint32_t Pos) const {
    return static_cast<std::uint8_t>(GetCharAtPos(Pos));
  }
  // Removes the byte at Pos; nothing when Pos is not below the size.
  void RemoveCharAtPos(std::uint32_t Pos);
  // Inserts c at Pos (0..size; the size appends). A larger Pos appends as well, so a
  // careless caller can never write outside the buffer.
  void AddCharAtPos(std::uint32_t Pos, char c);
  // The byte at Pos as decimal text; "0" beyond the end.
  ByteString GetDezimalCharAtPos(std::uint32_t Pos) const;

  std::uint8_t BestimmeBCC() const;
  void AddBCC();

  std::int32_t BestimmeCRC() const;
  // True when the last four bytes are the CRC-32 of the bytes before them, most
  // significant byte first; false for four bytes or fewer.
  bool VergleicheCRC() const;
  void AddCRC();
  // The block-mode form of a stored 3964R frame: everything but the trailing BCC, then the
  // CRC-32 of those bytes, most significant byte first. Dest holds size + 3 bytes. An empty
  // buffer writes nothing.
  void Get3964RBCCDataWithCRC(void* Dest) const;
  ByteString Get3964RBCCDataWithCRC() const;

  std::uint32_t BestimmeCRC16() const;
  // True when the last two bytes are the 16-bit check value of the bytes before them, high
  // byte first; false for two bytes or fewer.
  bool VergleicheCRC16() const;
  void AddCRC16();

 private:
  ByteString ClusterData;
};
