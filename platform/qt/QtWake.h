// How worker threads wake the GUI thread for its hand-overs: a signal that any thread may
// raise and that Qt's event loop watches, one file per platform (QtWakeLinux.cpp: an
// eventfd with a QSocketNotifier; QtWakeWin.cpp: an auto-reset event with a
// QWinEventNotifier). Workers never touch a Qt object.
//
// Thread safety: Raise() from any thread; the rest on the GUI thread.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace platform {

class QtWake {
 public:
  // `serve` runs on the GUI thread after one or more Raise() calls.
  QtWake(QObject* context, std::function<void()> serve);
  ~QtWake();
  QtWake(const QtWake&) = delete;
  QtWake& operator=(const QtWake&) = delete;

  void Raise();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
