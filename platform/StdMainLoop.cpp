#include "platform/StdMainLoop.h"

#include <algorithm>
#include <thread>

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<Milliseconds>(Clock::now().time_since_epoch()).count();
}
}  // namespace

StdMainLoop::StdMainLoop() = default;

StdMainLoop::~StdMainLoop() {
  Shutdown();
}

void StdMainLoop::Sleep(Milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::uint32_t StdMainLoop::TickCount() const {
  return static_cast<std::uint32_t>(SteadyMs());
}

bool StdMainLoop::Post(std::function<void()> fn) {
  return queue_.Post(std::move(fn));
}

std::int64_t StdMainLoop::NowMs() const {
  return SteadyMs();
}

void StdMainLoop::ServeOnce(Clock::time_point until) {
  if (queue_.Serve() > 0) return;
  if (FireOneDue(SteadyMs())) return;
  if (auto due = NextDue()) {
    const auto timer_due = Clock::time_point(Milliseconds(*due));
    until = std::min(until, timer_due);
  }
  queue_.WaitForWork(until);
}

void StdMainLoop::Run() {
  quit_ = false;
  while (!quit_) ServeOnce(Clock::now() + std::chrono::hours(1));
}

bool StdMainLoop::RunUntil(const std::function<bool()>& done, Milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (quit_ || Clock::now() >= end) return done();
    ServeOnce(end);
  }
  return true;
}

void StdMainLoop::Quit() {
  quit_ = true;
  queue_.Wake();
}

void StdMainLoop::Shutdown() {
  quit_ = true;
  LoopBase::Shutdown();
}

}  // namespace platform
