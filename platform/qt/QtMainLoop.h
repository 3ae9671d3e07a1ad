// The main loop seam on Qt's event loop, for the window and the dialogs. Timers tick and
// hand-overs run inside Qt's loop, also inside the nested loops of modal boxes.
//
// Thread safety as MainLoop: Synchronize and TickCount from any thread, the rest on the
// GUI thread. Create it on the GUI thread after the QApplication.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "platform/LoopBase.h"
#include "platform/qt/QtWake.h"

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
  // Workers wake the GUI thread for their hand-overs; they never touch a Qt object.
  std::unique_ptr<QtWake> handover_;
};

}  // namespace platform
