#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/StdMainLoop.h"
#include "platform/VirtualMainLoop.h"

using platform::Milliseconds;
using platform::StdMainLoop;
using platform::VirtualMainLoop;

namespace {

// Records the virtual times at which a timer ticked.
struct TickLog {
  VirtualMainLoop& loop;
  std::vector<long> ticks;
  std::function<void()> Handler() {
    return [this] { ticks.push_back(static_cast<long>(loop.Now().count())); };
  }
};

}  // namespace

TEST(VirtualMainLoop, TimerStartStopRestartSemantics) {
  VirtualMainLoop loop;
  TickLog log{loop, {}};
  auto timer = loop.CreateTimer(Milliseconds(100));
  timer->OnTimer = log.Handler();
  EXPECT_FALSE(timer->Enabled());
  loop.Advance(Milliseconds(250));
  EXPECT_TRUE(log.ticks.empty()) << "a new timer is stopped";

  timer->Start();                   // at 250
  loop.Advance(Milliseconds(130));  // 380
  timer->Start();                   // running: the period stays, next tick at 450
  loop.Advance(Milliseconds(100));  // 480
  EXPECT_EQ(log.ticks, (std::vector<long>{350, 450}));

  timer->Restart();  // at 480: next tick one full interval later
  loop.Advance(Milliseconds(99));
  EXPECT_EQ(log.ticks.size(), 2u);
  loop.Advance(Milliseconds(1));
  EXPECT_EQ(log.ticks.back(), 580);

  timer->Stop();
  loop.Advance(Milliseconds(1000));
  EXPECT_EQ(log.ticks.size(), 3u);
}

TEST(VirtualMainLoop, IntervalChangeRestartsAndZeroNeverTicks) {
  VirtualMainLoop loop;
  TickLog log{loop, {}};
  auto timer = loop.CreateTimer(Milliseconds(100));
  timer->OnTimer = log.Handler();
  timer->Start();
  loop.Advance(Milliseconds(60));
  timer->SetInterval(Milliseconds(50));  // restarts at 60
  loop.Advance(Milliseconds(100));
  EXPECT_EQ(log.ticks, (std::vector<long>{110, 160}));

  timer->SetInterval(Milliseconds(0));
  loop.Advance(Milliseconds(1000));
  EXPECT_EQ(log.ticks.size(), 2u);
  EXPECT_TRUE(timer->Enabled());

  timer->Stop();
  timer->SetInterval(Milliseconds(10));
  loop.Advance(Milliseconds(100));
  EXPECT_EQ(log.ticks.size(), 2u) << "changing the interval does not start a stopped timer";
}

TEST(VirtualMainLoop, TimersFireInDueOrderAndHandlersMayChangeTimers) {
  VirtualMainLoop loop;
  std::vector<std::string> order;
  auto a = loop.CreateTimer(Milliseconds(30));
  auto b = loop.CreateTimer(Milliseconds(20));
  auto c = loop.CreateTimer(Milliseconds(30));
  a->OnTimer = [&] {
    order.push_back(std::string("a").append(std::to_string(loop.Now().count())));
  };
  b->OnTimer = [&] {
    order.push_back(std::string("b").append(std::to_string(loop.Now().count())));
    b->Stop();
    c.reset();  // a handler may destroy another timer
  };
  c->OnTimer = [&] { order.push_back("c"); };
  a->Start();
  b->Start();
  c->Start();
  loop.Advance(Milliseconds(60));
  EXPECT_EQ(order, (std::vector<std::string>{"b20", "a30", "a60"}));
}

TEST(VirtualMainLoop, SleepBlocksTimersThenOneLateTick) {
  VirtualMainLoop loop;
  TickLog log{loop, {}};
  auto timer = loop.CreateTimer(Milliseconds(100));
  timer->OnTimer = [&] {
    log.ticks.push_back(static_cast<long>(loop.Now().count()));
    if (log.ticks.size() == 1) loop.Sleep(Milliseconds(8000));  // inside a handler
  };
  timer->Start();
  loop.Advance(Milliseconds(100));
  EXPECT_EQ(loop.Now(), Milliseconds(8100));
  EXPECT_EQ(loop.Sleeps(), std::vector<Milliseconds>{Milliseconds(8000)});
  loop.RunDue();
  loop.Advance(Milliseconds(100));
  // 79 missed periods give one tick at once, then the period resumes from there.
  EXPECT_EQ(log.ticks, (std::vector<long>{100, 8100, 8200}));
}

TEST(VirtualMainLoop, TickCountWrapsAt32Bits) {
  VirtualMainLoop loop(0xFFFFFFF0u);
  EXPECT_EQ(loop.TickCount(), 0xFFFFFFF0u);
  loop.Advance(Milliseconds(0x20));
  EXPECT_EQ(loop.TickCount(), 0x10u);
  EXPECT_EQ(loop.TickCount() - 0xFFFFFFF0u, 0x20u) << "differences are 32-bit unsigned";
}

TEST(VirtualMainLoop, SynchronizeRunsOnMainThreadAndBlocksCaller) {
  VirtualMainLoop loop;
  std::atomic<bool> returned{false};
  std::atomic<bool> ran_on_main{false};
  bool ran = false;
  std::thread worker([&] {
    EXPECT_TRUE(loop.Synchronize([&] {
      ran = true;
      ran_on_main = loop.IsMainThread();
    }));
    returned = true;
  });
  // Nothing runs until the main thread serves; the worker stays blocked meanwhile.
  std::this_thread::sleep_for(Milliseconds(20));
  EXPECT_FALSE(ran);
  EXPECT_FALSE(returned);
  EXPECT_TRUE(loop.ServeUntil([&] { return ran; }, Milliseconds(5000)));
  worker.join();
  EXPECT_TRUE(ran_on_main);
  EXPECT_TRUE(returned);

  bool direct = false;
  EXPECT_TRUE(loop.Synchronize([&] { direct = true; })) << "on the main thread it runs at once";
  EXPECT_TRUE(direct);
}

TEST(VirtualMainLoop, HandOversKeepTheirOrderAndAdvanceServesThem) {
  VirtualMainLoop loop;
  std::vector<int> order;
  std::atomic<int> handed{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      loop.Synchronize([&, i] { order.push_back(i); });
      ++handed;
    }
  });
  while (handed < 50) loop.Advance(Milliseconds(1));
  worker.join();
  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[static_cast<std::size_t>(i)] = i;
  EXPECT_EQ(order, expected);
}

TEST(VirtualMainLoop, ShutdownReleasesBlockedWorkers) {
  VirtualMainLoop loop;
  std::atomic<int> result{-1};
  std::thread worker([&] { result = loop.Synchronize([] {}) ? 1 : 0; });
  std::this_thread::sleep_for(Milliseconds(10));
  loop.Shutdown();
  worker.join();
  EXPECT_EQ(result, 0) << "released without running";
  std::thread late([&] { result = loop.Synchronize([] {}) ? 1 : 0; });
  late.join();
  EXPECT_EQ(result, 0) << "a hand-over after shutdown fails at once";
}

TEST(StdMainLoop, TimersHandOversAndQuit) {
  StdMainLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer(Milliseconds(1));
  timer->OnTimer = [&] { ++ticks; };
  timer->Start();
  EXPECT_TRUE(loop.RunUntil([&] { return ticks >= 3; }, Milliseconds(10000)));
  timer->Stop();

  std::atomic<bool> on_main{false};
  std::thread worker([&] {
    loop.Synchronize([&] { on_main = loop.IsMainThread(); });
    loop.Post([&] { loop.Quit(); });
  });
  loop.Run();  // returns once the posted Quit has run
  worker.join();
  EXPECT_TRUE(on_main);
}

TEST(StdMainLoop, RunUntilGivesUpAtItsLimit) {
  StdMainLoop loop;
  EXPECT_FALSE(loop.RunUntil([] { return false; }, Milliseconds(20)));
}

TEST(StdMainLoop, ShutdownReleasesBlockedWorkers) {
  StdMainLoop loop;
  std::atomic<int> result{-1};
  bool ran = false;
  std::thread worker([&] { result = loop.Synchronize([&] { ran = true; }) ? 1 : 0; });
  std::this_thread::sleep_for(Milliseconds(10));
  loop.Shutdown();  // before or after the worker queued its request: it must not hang
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
}
