// The link bench: the communication components and their settings dialogs, tried for real
// on a serial port (or the device simulator's).
//
//   link_bench                      opens the window
//   link_bench --version            prints the version and ends
//   link_bench --screenshots DIR    writes the window and the three settings dialogs as PNG
//                                   files into DIR and ends
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstring>

#include "connection/TZaDozerUdoVaz.h"
#include "platform/qt/QtMainLoop.h"
#include "protocol/TVeDerudezodAraDuz.h"
#include "serial/TDaDudaroDevIza.h"
#include "tools/link_bench/LinkBenchWindow.h"
#include "util/ComPortList.h"
#include "util/ProgramVersion.h"

namespace {

bool Save(QWidget& widget, const QString& dir, const char* name) {
  widget.show();
  QApplication::processEvents();
  const QString path = QDir(dir).filePath(QString::fromUtf8(name) + ".png");
  if (widget.grab().save(path)) {
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
  }
  std::fprintf(stderr, "link_bench: cannot write %s\n", path.toLocal8Bit().constData());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForVersion(argc, argv)) {
    std::fputs(ProgramVersionText("link_bench").c_str(), stdout);
    return 0;
  }
  const bool screenshots = argc == 3 && std::strcmp(argv[1], "--screenshots") == 0;
  if (argc != 1 && !screenshots) {
    std::fprintf(stderr, "usage: link_bench [--screenshots DIR | --version]\n");
    return 2;
  }
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("link_bench"));
  app.setApplicationDisplayName(QStringLiteral("Link-Prüfstand"));

  platform::QtMainLoop loop;
  TObject owner;
  TDaVevureRez serial(&owner, loop);
  TDoVuverUve line(&owner, loop);
  TRiVadaroverEza protocol(&owner, loop);
  line.SetDaVevureRez(&serial);
  protocol.SetDoVuverUve(&line);
  // The device's link procedure, with the flasher's answer time.
  protocol.SetProtokoll(TProtokoll::p3964R);
  protocol.SetWaitForAnswer3964R(2000);
  InstallVeDerudezodAraDuz();

  LinkBenchWindow window(protocol, line, serial, [] { return GetComPortList(); });
  if (screenshots) {
    const QString dir = QString::fromLocal8Bit(argv[2]);
    bool ok = Save(window, dir, "link_bench");
    TVeDerudezodAraDuz protocolDialog(protocol, &window);
    ok = Save(protocolDialog, dir, "TVeDerudezodAraDuz") && ok;
    TZaDozerUdoVaz connectionDialog(line, &window);
    ok = Save(connectionDialog, dir, "TZaDozerUdoVaz") && ok;
    TDaDudaroDevIza serialDialog(serial, &window);
    ok = Save(serialDialog, dir, "TDaDudaroDevIza") && ok;
    return ok ? 0 : 1;
  }
  window.show();
  return app.exec();
}
