// Timer bookkeeping shared by the main loop implementations. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/MainLoop.h"

namespace platform {

class TimerHost {
 public:
  TimerHost() = default;
  TimerHost(const TimerHost&) = delete;
  TimerHost& operator=(const TimerHost&) = delete;
  virtual ~TimerHost();

  std::unique_ptr<Timer> CreateHostedTimer(Milliseconds interval);

  // Fires the earliest timer due at or before `now` (ties: the one started first) and
  // returns true; false when none is due. A timer that is late by more than a period ticks
  // once, not once per missed period.
  bool FireOneDue(std::int64_t now);
  // Due time of the earliest running timer.
  std::optional<std::int64_t> NextDue() const;

 protected:
  // The loop's clock in milliseconds.
  virtual std::int64_t NowMs() const = 0;
  // A timer was started or its period changed; loops that sleep until the next due time
  // recompute it here.
  virtual void ScheduleChanged() {}

 private:
  class HostedTimer;
  std::vector<HostedTimer*> timers_;
  std::uint64_t next_sequence_ = 0;
};

}  // namespace platform
