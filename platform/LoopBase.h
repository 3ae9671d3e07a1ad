// What both main loop implementations share: hosted timers, the hand-over queue and the
// identity of the main thread (the thread that constructs the loop).
#pragma once

#include <thread>

#include "platform/MainLoop.h"
#include "platform/SyncQueue.h"
#include "platform/TimerHost.h"

namespace platform {

class LoopBase : public MainLoop, protected TimerHost {
 public:
  ~LoopBase() override { queue_.Shutdown(); }

  std::unique_ptr<Timer> CreateTimer(Milliseconds interval) override {
    return CreateHostedTimer(interval);
  }
  bool Synchronize(const std::function<void()>& fn) override {
    if (IsMainThread()) {
      fn();
      return true;
    }
    return queue_.RunAndWait(fn);
  }
  void ServeSynchronize() override { queue_.Serve(); }
  bool IsMainThread() const override { return std::this_thread::get_id() == main_thread_; }

  // Releases every worker blocked in Synchronize; later hand-overs fail.
  virtual void Shutdown() { queue_.Shutdown(); }

 protected:
  SyncQueue queue_;

 private:
  const std::thread::id main_thread_ = std::this_thread::get_id();
};

}  // namespace platform
