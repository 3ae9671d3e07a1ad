// The main loop seam: periodic timers that tick on the main thread, hand-overs from
// worker threads (Synchronize), a blocking main-thread sleep and a wrapping millisecond
// tick count.
//
// Thread safety: TickCount() and Synchronize() may be called from any thread. Everything
// else, the timers included, belongs to the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

using Milliseconds = std::chrono::milliseconds;

// A periodic timer in the manner of the components' owned timers. Its tick handler runs on
// the main thread. Start() on a running timer leaves its period undisturbed; Restart()
// stops and starts, so the next tick comes one full interval later.
class Timer {
 public:
  virtual ~Timer() = default;

  virtual void Start() = 0;
  virtual void Stop() = 0;
  void Restart() {
    Stop();
    Start();
  }
  void SetEnabled(bool enabled) { enabled ? Start() : Stop(); }
  virtual bool Enabled() const = 0;

  // Changing the interval of a running timer restarts its period.
  virtual void SetInterval(Milliseconds interval) = 0;
  virtual Milliseconds Interval() const = 0;

  std::function<void()> OnTimer;
};

class MainLoop {
 public:
  virtual ~MainLoop() = default;

  // A stopped timer with the given interval. It must not outlive the loop.
  virtual std::unique_ptr<Timer> CreateTimer(Milliseconds interval) = 0;

  // Runs `fn` on the main thread and returns once it has run. On the main thread itself
  // it runs `fn` at once. Returns false, without running `fn`, when the loop has shut down.
  virtual bool Synchronize(const std::function<void()>& fn) = 0;

  // Runs the hand-overs that worker threads are waiting for, on the main thread. Bounded
  // waits of the main thread (closing a port, say) call this so that a worker blocked in
  // Synchronize can make progress.
  virtual void ServeSynchronize() = 0;

  // Blocks the main thread; neither timers nor hand-overs are served meanwhile.
  virtual void Sleep(Milliseconds duration) = 0;

  // Milliseconds since an arbitrary origin, wrapping at 2^32. Differences are taken as
  // 32-bit unsigned differences.
  virtual std::uint32_t TickCount() const = 0;

  // True on the thread that owns the loop.
  virtual bool IsMainThread() const = 0;
};

}  // namespace platform
