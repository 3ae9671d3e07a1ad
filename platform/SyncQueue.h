// Hand-over queue shared by the main loop implementations: worker threads enqueue a
// function and block until the main thread has run it.
//
// Thread safety: every member may be called from any thread; Serve() runs the queued
// functions on the calling thread, which must be the main thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

class SyncQueue {
 public:
  // Blocks until the main thread has run `fn`; false (not run) after Shutdown().
  bool RunAndWait(const std::function<void()>& fn);
  // Queues `fn` without waiting for it; false after Shutdown().
  bool Post(std::function<void()> fn);
  // Runs every queued function; returns how many ran.
  int Serve();
  bool HasWork() const;
  // Releases all waiting callers without running their functions; later calls fail.
  void Shutdown();

  // Called (on the queuing thread, outside the lock) whenever work is queued; a loop that
  // does not wait in WaitForWork uses it to wake itself. Set before any worker runs.
  void SetNotifier(std::function<void()> notifier) { notifier_ = std::move(notifier); }

  // Wakes whoever waits in WaitForWork.
  void Wake();
  // Waits until work is queued, Wake() is called, or `until` passes.
  template <class TimePoint>
  void WaitForWork(const TimePoint& until) {
    std::unique_lock lock(mutex_);
    cv_.wait_until(lock, until, [&] { return !queue_.empty() || woken_ || shutdown_; });
    woken_ = false;
  }
  void WaitForWork() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return !queue_.empty() || woken_ || shutdown_; });
    woken_ = false;
  }

 private:
  struct Request {
    std::function<void()> fn;
    bool waited = false;  // a caller blocks until `state` is kDone
    enum { kQueued, kRunning, kDone } state = kQueued;
  };
  mutable std::mutex mutex_;
  std::condition_variable cv_;       // the main thread waits for work here
  std::condition_variable done_cv_;  // callers wait for their request here
  std::deque<Request*> queue_;
  bool shutdown_ = false;
  bool woken_ = false;
  std::function<void()> notifier_;
};

}  // namespace platform
