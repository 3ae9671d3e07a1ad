// A stand-in line under the protocol component: a connection component whose sending,
// receive queue and switching are replaced. It records every byte sent, holds the clusters a
// test feeds in and raises the connection events the way the connection component does.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "connection/TDoVuverUve.h"
#include "tests/protocol/ProzedurTestSupport.h"

class FakeLine : public TDoVuverUve {
 public:
  explicit FakeLine(platform::MainLoop& loop) : TDoVuverUve(nullptr, loop) {}

  // Whether switching on opens the line.
  bool opens = true;
  // Called after every write, inside SendeDaten, as a write completion may be.
  std::function<void(const ByteString&)> onWrite;

  bool Active() const override { return active_; }
  void SetActive(bool Value) override {
    if (Value == active_) return;
    if (Value) pending.clear();
    active_ = Value && opens;
    if (active_) {
      if (!connected_) {
        connected_ = true;
        if (OnConnectEvent) OnConnectEvent(this);
      }
    } else {
      // A direct line reports the disconnect every time it is switched off or fails to open.
      connected_ = false;
      if (OnDisconnectEvent) OnDisconnectEvent(this);
    }
  }
  bool Connected() const override { return connected_; }

  using TDoVuverUve::SendeDaten;
  void SendeDaten(const void* Data, std::uint32_t Size) override {
    const ByteString bytes(static_cast<const char*>(Data), Size);
    wire += bytes;
    writes.push_back(bytes);
    if (onWrite) onWrite(bytes);
  }
  std::uint32_t GetNextClusterSize() override {
    return pending.empty() ? 0 : static_cast<std::uint32_t>(pending.front().size());
  }
  ByteString ReadNextCluster(std::uint32_t& ClusterSize) override {
    if (pending.empty()) {
      ClusterSize = 0;
      return {};
    }
    ByteString c = std::move(pending.front());
    pending.pop_front();
    ClusterSize = static_cast<std::uint32_t>(c.size());
    return c;
  }

  // The clusters arrive together; the data event follows while connected.
  void Receive(const std::vector<ByteString>& clusters) {
    for (const ByteString& c : clusters) pending.push_back(c);
    if (connected_ && OnDataRecieveEvent) OnDataRecieveEvent(this);
  }
  // The line comes up or goes down by itself (carrier, modem).
  void Connect() {
    connected_ = true;
    if (OnConnectEvent) OnConnectEvent(this);
  }
  void Disconnect() {
    connected_ = false;
    if (OnDisconnectEvent) OnDisconnectEvent(this);
  }
  // The connection is gone without an event: the bytes of the procedures are dropped.
  void LoseSilently() { connected_ = false; }
  // Everything sent since the last call, as hex.
  std::string TakeWire() {
    std::string hex = prottest::Hex(wire);
    wire.clear();
    return hex;
  }

  std::deque<ByteString> pending;
  ByteString wire;
  std::vector<ByteString> writes;

 private:
  bool active_ = false;
  bool connected_ = false;
};
