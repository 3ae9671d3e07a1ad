// The window, offscreen, flashing the device simulator: the Flash button, the progress bar,
// the controls during and after the run, on Qt's own event loop.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>

#include "app/TZORurerizudor.h"
#include "app/ZORurerizudorWindow.h"
#include "connection/TDoVuverUve.h"
#include "platform/qt/QtMainLoop.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"
#include "tests/e2e/ChildProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(WindowFlash, FlashButtonRunsTheWholeDialogue) {
  std::string pattern = (fs::temp_directory_path() / "window-e2e-XXXXXX").string();
  const std::string dir = mkdtemp(pattern.data());
  std::string image(kImageSize, '\xFF');
  for (std::size_t block : {0u, 5u, 2047u})
    for (std::size_t i = 0; i < 64; i += 2) image[block * 64 + i] = static_cast<char>(i);
  image[0] = 0x01;
  std::ofstream(dir + "/image.bin", std::ios::binary) << image;

  ChildProcess sim(SIM_PROGRAM,
                   {"--no-register", "--version", "0.90", "--flash-out", dir + "/flash.bin"},
                   dir + "/sim.out", dir + "/sim.err");
  const auto lines = sim.Lines(1, 10s);
  ASSERT_EQ(lines.size(), 1u);

  int argc = 1;
  char name[] = "VERidOvudida";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  platform::QtMainLoop loop;
  ZORurerizudorWindow window;
  platform::RecordingMessages messages;
  TZORurerizudor form({loop, messages, window, [&] { return std::vector<std::string>{lines[0]}; },
                       "VERidOvudida", MakeSerialPort, 300000ms});
  EXPECT_EQ(window.windowTitle().toStdString(),
            "Kettrel - MirbaZento \"ARX\" Flasher V3.30/13.30");
  EXPECT_EQ(window.size(), QSize(537, 192));
  EXPECT_FALSE(window.Dateiname->isVisibleTo(&window)) << "normal mode hides the developer row";
  ASSERT_EQ(window.Port->count(), 1);
  EXPECT_EQ(window.Port->itemText(0).toStdString(), lines[0]) << "the item names the port";
  EXPECT_EQ(window.Port->itemData(0, Qt::ToolTipRole).toString().toStdString(), "Pseudo-Terminal");
  window.Port->setCurrentIndex(0);
  window.Dateiname->setText(QString::fromStdString(dir + "/image.bin"));
  window.OnFlashClick = [&] { form.FlashClick(); };

  int highest_progress = 0;
  bool disabled_during_run = false;
  QObject::connect(window.ProgressBar1, &QProgressBar::valueChanged, [&](int v) {
    highest_progress = std::max(highest_progress, v);
    disabled_during_run = disabled_during_run || (!window.Flash->isEnabled() && !window.Port->isEnabled());
  });
  form.OnRunEnded = [&](RunResult) { app.quit(); };
  QTimer::singleShot(0, [&] { window.Flash->click(); });
  QTimer::singleShot(120000, [&] { app.quit(); });  // a bound, never reached normally
  app.exec();

  EXPECT_EQ(form.LastResult(), RunResult::Flashed);
  ASSERT_FALSE(messages.shown.empty());
  EXPECT_EQ(messages.shown.back().text, "Flasher erfolgreich geflasht !!!");
  // Three blocks: the last one stays in the send queue until it is acknowledged.
  EXPECT_EQ(highest_progress, 66);
  EXPECT_TRUE(disabled_during_run);
  EXPECT_TRUE(window.Flash->isEnabled());
  EXPECT_TRUE(window.Port->isEnabled());
  EXPECT_EQ(window.ProgressBar1->value(), 0);
  EXPECT_GT(window.ZuRerirUdavudiri->document()->blockCount(), 1) << "the traffic log";
  EXPECT_FALSE(window.ZuRerirUdavudiri->isVisibleTo(&window));

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(10s), 0);
  EXPECT_EQ(ReadWholeFile(dir + "/flash.bin"), image);
  fs::remove_all(dir);
}
