#include <windows.h>

#include <QWinEventNotifier>

#include "platform/qt/QtWake.h"

namespace platform {

// An auto-reset event: the notifier's wait takes the signal, so several raises before the
// GUI thread comes round are served once, as the eventfd's count is on Linux.
struct QtWake::Impl {
  HANDLE event = nullptr;
  std::unique_ptr<QWinEventNotifier> notifier;
};

QtWake::QtWake(QObject* context, std::function<void()> serve) : impl_(std::make_unique<Impl>()) {
  impl_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  impl_->notifier = std::make_unique<QWinEventNotifier>(impl_->event);
  QObject::connect(impl_->notifier.get(), &QWinEventNotifier::activated, context,
                   [serve = std::move(serve)] { serve(); });
}

QtWake::~QtWake() {
  impl_->notifier.reset();
  CloseHandle(impl_->event);
}

void QtWake::Raise() {
  SetEvent(impl_->event);
}

}  // namespace platform
