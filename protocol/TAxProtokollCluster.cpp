#include "protocol/TAxProtokollCluster.h"

#include <algorithm>
#include <cstring>

#include "util/ByteText.h"
#include "util/Checksums.h"

void TAxProtokollCluster::GetData(void* Dest) const {
  if (Dest && !ClusterData.empty()) std::memcpy(Dest, ClusterData.data(), ClusterData.size());
}

char* TAxProtokollCluster::GetDataAsPChar(char* Dest) const {
  if (!Dest) return Dest;
  GetData(Dest);
  Dest[ClusterData.size()] = '\0';
  return Dest;
}

ByteString TAxProtokollCluster::GetDataAsHexString() const {
  ByteString hex;
  hex.reserve(ClusterData.size() * 2);
  for (char c : ClusterData) hex += ByteToHex(static_cast<std::uint8_t>(c));
  return hex;
}

void TAxProtokollCluster::RemoveCharAtPos(std::uint32_t Pos) {
  if (Pos < GetSize()) ClusterData.erase(Pos, 1);
}

void TAxProtokollCluster::AddCharAtPos(std::uint32_t Pos, char c) {
  ClusterData.insert(ClusterData.begin() + std::min<std::size_t>(Pos, ClusterData.size()), c);
}

ByteString TAxProtokollCluster::GetDezimalCharAtPos(std::uint32_t Pos) const {
  return std::to_string(GetByteAtPos(Pos));
}

std::uint8_t TAxProtokollCluster::BestimmeBCC() const {
  std::uint8_t bcc = 0;
  for (char c : ClusterData) bcc ^= static_cast<std::uint8_t>(c);
  return bcc;
}

void TAxProtokollCluster::AddBCC() {
  AddCharAtPos(GetSize(), static_cast<char>(BestimmeBCC()));
}

std::int32_t TAxProtokollCluster::BestimmeCRC() const {
  return static_cast<std::int32_t>(BerechneCRC32(ClusterData.data(), ClusterData.size()));
}

namespace {

void AppendBigEndian(ByteString& out, std::uint32_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

std::uint32_t ReadBigEndian(const ByteString& in, std::size_t pos, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | static_cast<std::uint8_t>(in[pos + static_cast<std::size_t>(i)]);
  return value;
}

}  // namespace

bool TAxProtokollCluster::VergleicheCRC() const {
  if (ClusterData.size() <= 4) return false;
  const std::size_t body = ClusterData.size() - 4;
  return BerechneCRC32(ClusterData.data(), body) == ReadBigEndian(ClusterData, body, 4);
}

void TAxProtokollCluster::AddCRC() {
  AppendBigEndian(ClusterData, static_cast<std::uint32_t>(BestimmeCRC()), 4);
}

void TAxProtokollCluster::Get3964RBCCDataWithCRC(void* Dest) const {
  if (ClusterData.empty() || !Dest) return;
  const ByteString form = Get3964RBCCDataWithCRC();
  std::memcpy(Dest, form.data(), form.size());
}

ByteString TAxProtokollCluster::Get3964RBCCDataWithCRC() const {
  if (ClusterData.empty()) return {};
  ByteString form = ClusterData.substr(0, ClusterData.size() - 1);
  AppendBigEndian(form, BerechneCRC32(form.data(), form.size()), 4);
  return form;
}

std::uint32_t TAxProtokollCluster::BestimmeCRC16() const {
  return BerechneCRC16(ClusterData.data(), ClusterData.size());
}

bool TAxProtokollCluster::VergleicheCRC16() const {
  if (ClusterData.size() <= 2) return false;
  const std::size_t body = ClusterData.size() - 2;
  return BerechneCRC16(ClusterData.data(), body) == ReadBigEndian(ClusterData, body, 2);
}

void TAxProtokollCluster::AddCRC16() {
  AppendBigEndian(ClusterData, BestimmeCRC16(), 2);
}
