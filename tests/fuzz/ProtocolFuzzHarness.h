// Drives one protocol component on a stand-in line from fuzzer bytes: arbitrary and
// well-formed clusters from the peer (alone or several at once), ticks of the virtual clock,
// telegrams handed in, flag writes, switching, line events, and handlers that re-enter the
// component the way an application does. After every operation the queues must stay within
// what was handed in and received, and the state must be consistent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/VirtualMainLoop.h"
#include "protocol/T3964RProzedur.h"
#include "protocol/TRiVadaroverEza.h"
#include "tests/protocol/FakeLine.h"
#include "util/Checksums.h"

namespace fuzz {

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  ByteString Bytes(std::size_t n) {
    ByteString out;
    while (n-- > 0 && !Empty()) out += static_cast<char>(Byte());
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A telegram as the peer sends it: DLEs doubled, DLE ETX, then BCC or CRC-32.
inline ByteString PeerTelegram(const ByteString& data, bool crc) {
  ByteString frame = T3964RProzedur::BaueTelegramm(data);
  if (!crc) return frame;
  frame.pop_back();
  const std::uint32_t c = BerechneCRC32(frame.data(), frame.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((c >> shift) & 0xFF);
  return frame;
}

constexpr std::size_t kMaxData = 24;
// The longest telegram on the wire: every data byte a doubled DLE, trailer in CRC form.
constexpr std::size_t kMaxFrame = 2 * kMaxData + 6;

inline void Run(const std::uint8_t* data, std::size_t size, TProtokoll protokoll) {
  Input in(data, size);
  platform::VirtualMainLoop loop;
  // No serial port component under the line: block mode's extra delays have nowhere to go,
  // which the component must take in its stride (and a port component per input would cost
  // a worker thread each).
  FakeLine line(loop);
  auto p = std::make_unique<TRiVadaroverEza>(nullptr, loop);
  p->SetDoVuverUve(&line);
  p->SetProtokoll(protokoll);
  p->SetWaitForAnswer3964R(100);
  p->SetActive(true);

  std::size_t handedIn = 0;  // telegrams handed to the component
  std::size_t received = 0;  // clusters offered by the peer
  bool sendOnReceipt = false, sendOnReady = false, endOnAbort = false, endOnWrite = false;
  int depth = 0;  // handlers re-enter once at most, as an application's would

  p->OnDataRecieveEvent = [&](TObject*) {
    if (!sendOnReceipt || depth > 0) return;
    ++depth;
    std::uint32_t n = 0;
    p->ReadNextCluster(n);
    ++handedIn;
    p->SendeString("R");
    --depth;
  };
  p->OnSuccessfulReadyEvent = [&](TObject*) {
    if (!sendOnReady || depth > 0) return;
    ++depth;
    ++handedIn;
    p->SendeString("F");
    --depth;
  };
  p->OnErrorAbortEvent = [&](TObject*, std::uint32_t, std::uint32_t, const ByteString&,
                             std::uint8_t) {
    if (endOnAbort) p->SetActive(false);
  };
  p->OnComWriteDone = [&](TObject*) {
    FUZZ_CHECK(p->ToSendListe.size() <= handedIn);
    if (endOnWrite) p->SetActive(false);
  };
  // The serial port may report a write complete before the send returns.
  line.onWrite = [&](const ByteString&) {
    if (line.OnComWriteDone) line.OnComWriteDone(&line);
  };

  const bool plus = protokoll == TProtokoll::p3964RPlus;
  for (int ops = 0; !in.Empty() && ops < 2000; ++ops) {
    const std::size_t wireBefore = line.wire.size();
    std::size_t ticks = 0;
    switch (in.Byte() % 12) {
      case 0:  // raw bytes
        line.Receive({in.Bytes(in.Byte() % 32)});
        ++received;
        break;
      case 1: {  // the peer's control sequences
        static const char* const kControl[] = {"\x10", "\x02", "\x15", "\x10\x03", "\x10\x02"};
        const std::uint8_t pick = in.Byte() % 5;
        line.Receive({ByteString(kControl[pick], pick < 3 ? 1 : 2)});
        ++received;
        break;
      }
      case 2:
      case 3: {  // a well-formed telegram, sometimes with one byte spoilt
        const std::uint8_t how = in.Byte();
        ByteString t = PeerTelegram(in.Bytes(how % (kMaxData + 1)), (how & 0x80) != 0);
        if ((how & 0x40) && !t.empty()) t[in.Byte() % t.size()] ^= static_cast<char>(in.Byte() | 1);
        line.Receive({t});
        ++received;
        break;
      }
      case 4: {  // several clusters waiting at once
        std::vector<ByteString> clusters;
        for (int i = 0, n = 2 + in.Byte() % 3; i < n; ++i)
          clusters.push_back(in.Bytes(1 + in.Byte() % 3));
        received += clusters.size();
        line.Receive(clusters);
        break;
      }
      case 5: {  // time passes
        const std::int32_t ms = in.Byte() * 4;
        ticks = static_cast<std::size_t>(ms / p->WaitForAnswer3964R()) + 1;
        loop.Advance(platform::Milliseconds(ms));
        break;
      }
      case 6:
        ++handedIn;
        p->SendeString(in.Bytes(in.Byte() % (kMaxData + 1)));
        break;
      case 7: {
        const std::uint8_t f = in.Byte();
        if (f & 1) p->SetP3964RPBlockModeSendRequest(f & 2);
        if (f & 4) p->SetP3964RPBlockModeSendLock(f & 8);
        if (f & 16) p->SetP3964RPBlockModeRecieveLock(f & 32);
        if (f & 64) p->SetP3964RPBlockModeRecieveEnd(f & 128);
        break;
      }
      case 8: {
        std::uint32_t n = 0;
        for (int i = in.Byte() % 4; i > 0; --i) p->ReadNextCluster(n);
        break;
      }
      case 9:
        p->SetActive(!p->Active());
        break;
      case 10: {
        const std::uint8_t what = in.Byte() % 4;
        if (what == 0) line.Connect();
        if (what == 1) line.Disconnect();
        if (what == 2) line.LoseSilently();
        if (what == 3) p->SetWaitForAnswer3964R(50 + in.Byte() * 8);
        break;
      }
      case 11: {
        const std::uint8_t f = in.Byte();
        sendOnReceipt = f & 1;
        sendOnReady = f & 2;
        endOnAbort = f & 4;
        endOnWrite = (f & 0x18) == 0x18;
        break;
      }
    }

    // Queues hold no more than was handed in and received.
    FUZZ_CHECK(p->ToSendListe.size() <= handedIn);
    FUZZ_CHECK(p->ToProzessListe.size() <= received);
    // Each step sends a bounded answer: a frame and a few control characters, per tick too.
    const std::size_t sent = line.wire.size() - wireBefore;
    FUZZ_CHECK(sent <= (ticks + 1) * 2 * (kMaxFrame + 4));
    line.wire.clear();

    FUZZ_CHECK(p->ErrorTimeOutCounter() >= 0 && p->ErrorTransmitCounter() >= 0);
    FUZZ_CHECK(!(p->P3964RPBlockModeSendRequest() && p->P3964RPBlockModeSendLock()));
    if (plus) {
      const auto s = static_cast<int>(p->P3964RPStatus());
      FUZZ_CHECK(s >= 0 && s <= 9 && s != 2);
      if (p->P3964RPStatus() == TP3964RPStatus::p3964rpstDisconnect)
        FUZZ_CHECK(!p->WaitForAnswerRunning());
    } else {
      const auto s = static_cast<int>(p->P3964RStatus());
      FUZZ_CHECK(s >= 0 && s <= 6 && s != 2);
      if (p->P3964RStatus() == TP3964RStatus::p3964rstDisconnect)
        FUZZ_CHECK(!p->WaitForAnswerRunning());
    }
  }
  p.reset();
  FUZZ_CHECK(!line.OnDataRecieveEvent);
}

}  // namespace fuzz
