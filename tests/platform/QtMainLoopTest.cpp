// The main loop seam on Qt's event loop: timers keep their semantics, hand-overs from a
// worker run on the GUI thread, also inside a nested (modal) loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/qt/QtMainLoop.h"

using platform::Milliseconds;

TEST(QtMainLoop, TimersAndHandOversRunInQtsLoop) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  platform::QtMainLoop loop;

  int ticks = 0;
  auto timer = loop.CreateTimer(Milliseconds(5));
  timer->OnTimer = [&] {
    if (++ticks == 3) timer->Stop();
  };
  timer->Start();

  std::atomic<bool> on_gui_thread{false};
  std::atomic<bool> worker_done{false};
  std::thread worker([&] {
    loop.Synchronize([&] { on_gui_thread = loop.IsMainThread(); });
    worker_done = true;
  });

  // A nested loop, as a modal box runs one, serves both.
  QEventLoop nested;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ticks >= 3 && worker_done) nested.quit();
  });
  poll.start(1);
  QTimer::singleShot(20000, &nested, &QEventLoop::quit);  // a bound, never reached normally
  nested.exec();
  worker.join();

  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timer->Enabled());
  EXPECT_TRUE(on_gui_thread);
  EXPECT_NE(loop.TickCount(), 0u);
}
