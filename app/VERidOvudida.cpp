// The flasher program: one window, one button, one run at a time.
#include <QApplication>

#include "app/TZORurerizudor.h"
#include "app/ZORurerizudorWindow.h"
#include "platform/System.h"
#include "platform/qt/QtMainLoop.h"
#include "platform/qt/QtMessages.h"
#include "serial/TDaVevureRez.h"
#include "util/ComPortList.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setStyleSheet(kCobaltStyleSheet);
  app.setApplicationName(QString::fromUtf8(flasher_text::kTitle));

  platform::QtMainLoop loop;
  ZORurerizudorWindow window;
  platform::QtMessages messages(&window, flasher_text::kTitle);
  TZORurerizudor form({loop, messages, window, [] { return GetComPortList(); },
                       platform::ExecutablePath(argc > 0 ? argv[0] : nullptr), MakeSerialPort, std::chrono::milliseconds(300000)});
  window.OnFlashClick = [&form] { form.FlashClick(); };
  window.show();
  return app.exec();
}
