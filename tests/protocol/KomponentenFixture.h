// The protocol component on a stand-in line and the virtual clock, with its own events
// recorded in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/VirtualMainLoop.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"
#include "tests/protocol/FakeLine.h"
#include "tests/protocol/ProzedurTestSupport.h"

class Komponente : public ::testing::Test {
 protected:
  Komponente() {
    p.OnDataRecieveEvent = [this](TObject* s) { Note(s, "recv"); };
    p.OnSuccessfulReadyEvent = [this](TObject* s) { Note(s, "ready"); };
    p.OnErrorAbortEvent = [this](TObject* s, std::uint32_t Place, std::uint32_t Code,
                                 const ByteString& Msg, std::uint8_t Noise) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "abort %04X/%u/%u ", static_cast<unsigned>(Place),
                    static_cast<unsigned>(Code), static_cast<unsigned>(Noise));
      Note(s, buf + Msg);
    };
  }

  // Connected and active under `protokoll`, nothing sent yet.
  void Start(TProtokoll protokoll, std::int32_t wait = 1000) {
    p.SetDoVuverUve(&line);
    p.SetProtokoll(protokoll);
    p.SetWaitForAnswer3964R(wait);
    p.SetActive(true);
    ASSERT_TRUE(p.Connected());
    line.TakeWire();
  }

  // One cluster from the peer; what went out in answer.
  std::string Rx(const std::string& hex) {
    line.Receive({prottest::H(hex)});
    return line.TakeWire();
  }
  // One interval of the answer timer; what went out meanwhile.
  std::string Tick() {
    loop.Advance(platform::Milliseconds(p.WaitForAnswer3964R()));
    return line.TakeWire();
  }
  std::string Send(const std::string& hex) {
    p.SendeString(prottest::H(hex));
    return line.TakeWire();
  }
  // The component's own events since the last call, oldest first.
  std::string Events() {
    std::string all;
    for (const std::string& e : events) all += (all.empty() ? "" : "; ") + e;
    events.clear();
    return all;
  }

  // A serial port component under the line, whose extra delays block mode sets.
  TDaVevureRez& Serial() {
    if (!serial) {
      serial = std::make_unique<TDaVevureRez>(nullptr, loop);
      line.SetDaVevureRez(serial.get());
    }
    return *serial;
  }

  platform::VirtualMainLoop loop;
  std::unique_ptr<TDaVevureRez> serial;
  FakeLine line{loop};
  TRiVadaroverEza p{nullptr, loop};
  std::vector<std::string> events;

 private:
  void Note(TObject* sender, const std::string& what) {
    EXPECT_EQ(sender, &p) << what;
    events.push_back(what);
  }
};
