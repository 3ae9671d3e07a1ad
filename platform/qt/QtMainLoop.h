// The main loop seam on Qt's event loop, for the window and the dialogs. Timers tick and
// hand-overs run inside Qt's loop, also inside the nested loops of modal boxes.
//
// Thread safety as MainLoop: Synchronize and TickCount from any thread, the rest on the
// GUI thread. Create it on the GUI thread after the QApplication.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "platform/LoopBase.h"

namespace platform {

class QtMainLoop final : public QObject, public LoopBase {
 public:
  QtMainLoop();
  ~QtMainLoop() override;

  void Sleep(Milliseconds duration) override;
  std::uint32_t TickCount() const override;

 private:
  std::int64_t NowMs() const override;
  void ScheduleChanged() override;
  void FireDue();

  QTimer wake_;  // single shot, set to the earliest due timer
  // Workers wake the GUI thread through an eventfd; they never touch a Qt object.
  int handover_fd_ = -1;
  std::unique_ptr<QSocketNotifier> handover_;
};

}  // namespace platform
