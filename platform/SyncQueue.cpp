#include "platform/SyncQueue.h"

namespace platform {

bool SyncQueue::RunAndWait(const std::function<void()>& fn) {
  Request request{fn, true};
  std::unique_lock lock(mutex_);
  if (shutdown_) return false;
  queue_.push_back(&request);
  cv_.notify_all();
  if (notifier_) {
    lock.unlock();
    notifier_();
    lock.lock();
  }
  // A request that the main thread has begun is waited for even after Shutdown, so that
  // it never runs on a dead stack frame.
  done_cv_.wait(lock, [&] {
    return request.state == Request::kDone || (shutdown_ && request.state == Request::kQueued);
  });
  if (request.state != Request::kDone) {
    std::erase(queue_, &request);
    return false;
  }
  return true;
}

bool SyncQueue::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(mutex_);
    if (shutdown_) return false;
    queue_.push_back(new Request{std::move(fn), false});
    cv_.notify_all();
  }
  if (notifier_) notifier_();
  return true;
}

int SyncQueue::Serve() {
  int served = 0;
  for (;;) {
    Request* request = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      request = queue_.front();
      queue_.pop_front();
      request->state = Request::kRunning;
    }
    // A waiting caller keeps its request alive until it is done, so running it outside
    // the lock is safe; exceptions must not strand the caller.
    try {
      request->fn();
    } catch (...) {
    }
    ++served;
    if (request->waited) {
      std::lock_guard lock(mutex_);
      request->state = Request::kDone;
      done_cv_.notify_all();
    } else {
      delete request;
    }
  }
  return served;
}

bool SyncQueue::HasWork() const {
  std::lock_guard lock(mutex_);
  return !queue_.empty();
}

void SyncQueue::Shutdown() {
  std::deque<Request*> posted;
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    for (Request* request : queue_)
      if (!request->waited) posted.push_back(request);
    std::erase_if(queue_, [](Request* r) { return !r->waited; });
    done_cv_.notify_all();
    cv_.notify_all();
  }
  for (Request* request : posted) delete request;
}

void SyncQueue::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  cv_.notify_all();
}

}  // namespace platform
