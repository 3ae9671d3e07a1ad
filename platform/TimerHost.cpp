#include "platform/TimerHost.h"

#include <algorithm>

namespace platform {

class TimerHost::HostedTimer final : public Timer {
 public:
  HostedTimer(TimerHost* host, Milliseconds interval) : host_(host), interval_(interval) {
    host_->timers_.push_back(this);
  }
  ~HostedTimer() override {
    if (host_) std::erase(host_->timers_, this);
  }

  void Start() override {
    if (enabled_) return;  // a running timer keeps its period
    enabled_ = true;
    Schedule();
  }
  void Stop() override { enabled_ = false; }
  bool Enabled() const override { return enabled_; }
  void SetInterval(Milliseconds interval) override {
    interval_ = interval;
    if (enabled_) Schedule();
  }
  Milliseconds Interval() const override { return interval_; }

  // An interval of 0 or less never ticks, as with the toolkit timers the components expect.
  bool Due(std::int64_t now) const { return enabled_ && interval_.count() > 0 && due_ <= now; }
  bool Waiting() const { return enabled_ && interval_.count() > 0; }

  void Schedule() {
    due_ = host_->NowMs() + interval_.count();
    sequence_ = host_->next_sequence_++;
    host_->ScheduleChanged();
  }
  void Reschedule(std::int64_t now) {
    due_ += interval_.count();
    if (due_ <= now) due_ = now + interval_.count();
  }

  TimerHost* host_;
  Milliseconds interval_;
  bool enabled_ = false;
  std::int64_t due_ = 0;
  std::uint64_t sequence_ = 0;
};

TimerHost::~TimerHost() {
  // Timers that outlive the loop become inert instead of touching freed memory.
  for (HostedTimer* timer : timers_) {
    timer->host_ = nullptr;
    timer->enabled_ = false;
  }
}

std::unique_ptr<Timer> TimerHost::CreateHostedTimer(Milliseconds interval) {
  return std::make_unique<HostedTimer>(this, interval);
}

bool TimerHost::FireOneDue(std::int64_t now) {
  HostedTimer* first = nullptr;
  for (HostedTimer* timer : timers_) {
    if (!timer->Due(now)) continue;
    if (!first || timer->due_ < first->due_ ||
        (timer->due_ == first->due_ && timer->sequence_ < first->sequence_))
      first = timer;
  }
  if (!first) return false;
  first->Reschedule(now);
  // The handler may destroy its own timer; keep the function alive for the call.
  auto handler = first->OnTimer;
  if (handler) handler();
  return true;
}

std::optional<std::int64_t> TimerHost::NextDue() const {
  std::optional<std::int64_t> next;
  for (const HostedTimer* timer : timers_)
    if (timer->Waiting() && (!next || timer->due_ < *next)) next = timer->due_;
  return next;
}

}  // namespace platform
