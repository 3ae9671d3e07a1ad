// The window, offscreen, flashing the device simulator: the Flash button, the progress bar,
// the controls during and after the run, on Qt's own event loop.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QApplication>
#include <QEventLoop>
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

namespace {

// The window's program offscreen: Qt, its loop, the window and recorded boxes.
struct WindowProgram {
  int argc = 1;
  char name[13] = "VERidOvudida";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
  platform::QtMainLoop loop;
  ZORurerizudorWindow window;
  platform::RecordingMessages messages;
};

}  // namespace

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

  WindowProgram program;
  QApplication& app = program.app;
  platform::QtMainLoop& loop = program.loop;
  ZORurerizudorWindow& window = program.window;
  platform::RecordingMessages& messages = program.messages;
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

// A device that restarts as it leaves flash mode drops the line while the window closes the
// port. The result box's own loop runs as a modal box's would: one box, one end per run.
TEST(WindowFlash, DeviceThatRestartsAfterItsAnswerGetsOneResultBox) {
  std::string pattern = (fs::temp_directory_path() / "window-e2e-XXXXXX").string();
  const std::string dir = mkdtemp(pattern.data());
  std::string image(kImageSize, '\xFF');
  image[0] = 0x01;
  image[64 * 9] = 0x10;
  std::ofstream(dir + "/image.bin", std::ios::binary) << image;

  WindowProgram program;
  QApplication& app = program.app;
  platform::QtMainLoop& loop = program.loop;
  ZORurerizudorWindow& window = program.window;
  platform::RecordingMessages& messages = program.messages;
  std::string port;
  TZORurerizudor form({loop, messages, window, [&] { return std::vector<std::string>{port}; },
                       "VERidOvudida", MakeSerialPort, 300000ms});
  window.Dateiname->setText(QString::fromStdString(dir + "/image.bin"));
  window.OnFlashClick = [&] { form.FlashClick(); };
  messages.while_open = [](const platform::RecordingMessages::Shown&) {
    QEventLoop modal;
    QTimer::singleShot(300, &modal, &QEventLoop::quit);
    modal.exec();
  };
  std::vector<RunResult> ended;
  form.OnRunEnded = [&](RunResult r) {
    ended.push_back(r);
    app.quit();
  };
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string n = std::to_string(run);
    ChildProcess sim(SIM_PROGRAM,
                     {"--no-register", "--version", "0.90", "--hangup-after-answer", "--flash-out",
                      dir + "/flash" + n + ".bin"},
                     dir + "/sim" + n + ".out", dir + "/sim" + n + ".err");
    const auto lines = sim.Lines(1, 10s);
    ASSERT_EQ(lines.size(), 1u);
    port = lines[0];
    window.Port->setEditText(QString::fromStdString(port));
    messages.shown.clear();
    ended.clear();
    QTimer::singleShot(0, [&] { window.Flash->click(); });
    QTimer::singleShot(120000, [&] { app.quit(); });  // a bound, never reached normally
    app.exec();
    // Whatever is still under way has a moment to show itself.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    EXPECT_EQ(ended, std::vector<RunResult>{RunResult::Flashed});
    ASSERT_EQ(messages.shown.size(), 1u) << messages.shown.back().text;
    EXPECT_EQ(messages.shown[0].text, "Flasher erfolgreich geflasht !!!");
    EXPECT_TRUE(window.Flash->isEnabled());
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(10s), 0);
    EXPECT_EQ(ReadWholeFile(dir + "/flash" + n + ".bin"), image);
  }
  fs::remove_all(dir);
}
