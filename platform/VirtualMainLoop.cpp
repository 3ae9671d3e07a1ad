#include "platform/VirtualMainLoop.h"

#include <algorithm>

namespace platform {

VirtualMainLoop::VirtualMainLoop(std::uint32_t start_tick) : start_tick_(start_tick) {}

void VirtualMainLoop::Sleep(Milliseconds duration) {
  sleeps_.push_back(duration);
  now_ += duration.count();
}

std::uint32_t VirtualMainLoop::TickCount() const {
  return start_tick_ + static_cast<std::uint32_t>(now_.load());
}

void VirtualMainLoop::Advance(Milliseconds duration) {
  const std::int64_t target = now_.load() + duration.count();
  for (;;) {
    queue_.Serve();
    const auto due = NextDue();
    if (!due || *due > target) break;
    if (*due > now_.load()) now_ = *due;
    FireOneDue(now_.load());
  }
  // A handler may have slept past the target; the clock never runs backwards.
  if (now_.load() < target) now_ = target;
  queue_.Serve();
}

bool VirtualMainLoop::ServeUntil(const std::function<bool()>& done, Milliseconds wall_limit) {
  const auto end = std::chrono::steady_clock::now() + wall_limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    queue_.WaitForWork(std::min(end, std::chrono::steady_clock::now() + Milliseconds(5)));
    queue_.Serve();
  }
  return true;
}

}  // namespace platform
