// The flasher program: one window, one button, one run at a time.
#include <QApplication>
#include <cstdio>

#include "app/ErrorAdvice.h"
#include "app/FlasherVersion.h"
#include "app/TZORurerizudor.h"
#include "app/ZORurerizudorWindow.h"
#include "platform/System.h"
#include "platform/qt/QtMainLoop.h"
#include "platform/qt/QtMessages.h"
#include "serial/TDaVevureRez.h"
#include "util/ComPortList.h"
#include "util/ProgramVersion.h"

int main(int argc, char** argv) {
  // Before Qt: it needs no display.
  if (AsksForVersion(argc, argv)) {
    std::fputs(FlasherVersionText("VERidOvudida").c_str(), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  app.setStyleSheet(kCobaltStyleSheet);
  app.setApplicationName(QString::fromUtf8(flasher_text::kTitle));
  // Ties the window to the installed desktop entry (its icon under Wayland).
  app.setDesktopFileName(QStringLiteral("de.quenzhal.VERidOvudida"));

  platform::QtMainLoop loop;
  ZORurerizudorWindow window;
  platform::QtMessages messages(&window, flasher_text::kTitle);
  TZORurerizudor form({loop, messages, window, [] { return GetComPortList(); },
                       platform::ExecutablePath(argc > 0 ? argv[0] : nullptr), MakeSerialPort,
                       std::chrono::milliseconds(300000)});
  window.OnFlashClick = [&form] { form.FlashClick(); };
  form.BoxAdvice = [&form] { return ErrorAdvice(form); };
  window.show();
  return app.exec();
}
