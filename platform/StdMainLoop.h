// A main loop built on the standard library, for the command-line programs and tools.
// The thread that constructs it is its main thread.
//
// Thread safety: Synchronize, Post, Quit and TickCount from any thread; the rest on the
// main thread.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/LoopBase.h"

namespace platform {

class StdMainLoop final : public LoopBase {
 public:
  StdMainLoop();
  ~StdMainLoop() override;

  void Sleep(Milliseconds duration) override;
  std::uint32_t TickCount() const override;

  // Runs `fn` on the main thread later, without waiting. False after shutdown.
  bool Post(std::function<void()> fn);

  // Serves timers and hand-overs until Quit() is called.
  void Run();
  // Serves timers and hand-overs until `done` returns true (tested after every event) or
  // `limit` has passed; returns the last result of `done`. Runs nested inside handlers,
  // as a modal box's loop does.
  bool RunUntil(const std::function<bool()>& done, Milliseconds limit);
  void Quit();

  void Shutdown() override;

 private:
  std::int64_t NowMs() const override;
  // One round: serve hand-overs, fire due timers; wait for work until `until` otherwise.
  void ServeOnce(std::chrono::steady_clock::time_point until);

  std::atomic<bool> quit_{false};
};

}  // namespace platform
