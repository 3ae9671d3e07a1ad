#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>

#include "platform/qt/QtWake.h"

namespace platform {

struct QtWake::Impl {
  int fd = -1;
  std::unique_ptr<QSocketNotifier> notifier;
};

QtWake::QtWake(QObject* context, std::function<void()> serve) : impl_(std::make_unique<Impl>()) {
  impl_->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fd, QSocketNotifier::Read);
  QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, context,
                   [fd = impl_->fd, serve = std::move(serve)] {
                     std::uint64_t count = 0;
                     (void)!read(fd, &count, sizeof count);
                     serve();
                   });
}

QtWake::~QtWake() {
  impl_->notifier.reset();
  close(impl_->fd);
}

void QtWake::Raise() {
  const std::uint64_t one = 1;
  (void)!write(impl_->fd, &one, sizeof one);
}

}  // namespace platform
