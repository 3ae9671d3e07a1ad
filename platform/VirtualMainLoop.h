// The main loop test double: a virtual clock that only moves when the test says so.
// Timers fire at their exact virtual due times; hand-overs from real worker threads are
// served whenever the test advances time or asks for them.
//
// Thread safety: TickCount and Synchronize from any thread; the rest on the test's thread,
// which is the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/LoopBase.h"

namespace platform {

class VirtualMainLoop final : public LoopBase {
 public:
  // `start_tick` lets tests place the tick count just below its wrap.
  explicit VirtualMainLoop(std::uint32_t start_tick = 0);

  // Moves the clock forward without serving anything, as a blocked main thread would;
  // the duration is recorded in Sleeps().
  void Sleep(Milliseconds duration) override;
  std::uint32_t TickCount() const override;

  // Moves the clock forward by `duration`, firing every timer at its due time in order and
  // serving hand-overs before each tick and at the end.
  void Advance(Milliseconds duration);
  // Fires what is due now and serves hand-overs, without moving the clock.
  void RunDue() { Advance(Milliseconds(0)); }

  // Serves hand-overs (real time passing, virtual time standing still) until `done` is
  // true or `wall_limit` of real time has passed. For tests with real worker threads.
  bool ServeUntil(const std::function<bool()>& done, Milliseconds wall_limit);

  // Virtual milliseconds since construction.
  Milliseconds Now() const { return Milliseconds(now_.load()); }
  const std::vector<Milliseconds>& Sleeps() const { return sleeps_; }

 private:
  std::int64_t NowMs() const override { return now_.load(); }

  std::uint32_t start_tick_;
  std::atomic<std::int64_t> now_{0};
  std::vector<Milliseconds> sleeps_;
};

}  // namespace platform
