#include "platform/qt/QtMainLoop.h"

#include <QThread>
#include <chrono>
#include <cstdint>

namespace platform {

namespace {
std::int64_t SteadyMs() {
  return std::chrono::duration_cast<Milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

QtMainLoop::QtMainLoop() {
  wake_.setSingleShot(true);
  wake_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wake_, &QTimer::timeout, this, [this] { FireDue(); });
  handover_ = std::make_unique<QtWake>(this, [this] { queue_.Serve(); });
  queue_.SetNotifier([this] { handover_->Raise(); });
}

QtMainLoop::~QtMainLoop() {
  Shutdown();
  handover_.reset();
}

void QtMainLoop::Sleep(Milliseconds duration) {
  QThread::msleep(static_cast<unsigned long>(duration.count()));
}

std::uint32_t QtMainLoop::TickCount() const { return static_cast<std::uint32_t>(SteadyMs()); }

std::int64_t QtMainLoop::NowMs() const { return SteadyMs(); }

void QtMainLoop::ScheduleChanged() {
  const auto due = NextDue();
  if (!due) return;  // a stale wake-up finds nothing due and does no harm
  const std::int64_t wait = std::max<std::int64_t>(0, *due - SteadyMs());
  if (!wake_.isActive() || wake_.remainingTime() > wait) wake_.start(static_cast<int>(wait));
}

void QtMainLoop::FireDue() {
  // One tick per wake-up keeps the loop responsive; the next due timer re-arms it.
  FireOneDue(SteadyMs());
  if (const auto due = NextDue()) {
    wake_.start(static_cast<int>(std::max<std::int64_t>(0, *due - SteadyMs())));
  }
}

}  // namespace platform
