// The link bench: hexadecimal input, and its window driving the real component chain over a
// pseudo-terminal, with the test playing a 3964R device on the master side. Wall-clock
// limits are generous upper bounds only.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QTest>

#include "platform/qt/QtMainLoop.h"
#include "tests/serial/Pty.h"
#include "tests/support/QtTestApp.h"
#include "tools/link_bench/HexText.h"
#include "tools/link_bench/LinkBenchWindow.h"

namespace {

constexpr int kLimitMs = 10000;

TEST(HexText, PairsWithSeparatorsAndNothingElse) {
  EXPECT_EQ(ParseHexBytes("02 10 ff"), ByteString("\x02\x10\xff"));
  EXPECT_EQ(ParseHexBytes("0210FF"), ByteString("\x02\x10\xff"));
  EXPECT_EQ(ParseHexBytes("02,10,F0;"), ByteString("\x02\x10\xf0"));
  EXPECT_EQ(ParseHexBytes(""), ByteString());
  EXPECT_EQ(ParseHexBytes("  00 "), ByteString(1, '\0'));
  for (const char* bad : {"2", "02 1", "0 2", "0x02", "zz", "02-10"})
    EXPECT_EQ(ParseHexBytes(bad), std::nullopt) << bad;
  EXPECT_EQ(FormatHexBytes(ByteString("\x02\x10\xff")), "02 10 FF");
  EXPECT_EQ(FormatHexBytes(""), "");
}

class LinkBench : public ::testing::Test {
 protected:
  LinkBench() {
    line.SetDaVevureRez(&serial);
    protocol.SetDoVuverUve(&line);
    protocol.SetProtokoll(TProtokoll::p3964R);
    // Short times keep the test quick: the ready report comes with the answer timer, and a
    // received cluster ends after the extra delay of silence.
    protocol.SetWaitForAnswer3964R(300);
    serial.SetRTOExtraDelayTime(20);
  }
  ~LinkBench() override {
    window.reset();
    protocol.SetActive(false);
  }

  // Bytes the bench sent, read from the master while the event loop runs.
  std::string Expect(std::size_t count) {
    std::string got;
    (void)QTest::qWaitFor(
        [&] {
          pollfd fd{pty.Master(), POLLIN, 0};
          char buffer[256];
          while (got.size() < count && poll(&fd, 1, 0) > 0) {
            const ssize_t n =
                read(pty.Master(), buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
          }
          return got.size() >= count;
        },
        kLimitMs);
    return got;
  }
  bool Shows(QPlainTextEdit* view, const QString& text) {
    return QTest::qWaitFor([&] { return view->toPlainText().contains(text); }, kLimitMs);
  }

  platform::QtMainLoop loop;
  serial_test::Pty pty;
  TObject owner;
  TDaVevureRez serial{&owner, loop};
  TDoVuverUve line{&owner, loop};
  TRiVadaroverEza protocol{&owner, loop};
  std::unique_ptr<LinkBenchWindow> window = std::make_unique<LinkBenchWindow>(
      protocol, line, serial, [this] { return std::vector<std::string>{pty.Path()}; });
};

TEST_F(LinkBench, SwitchesOnSendsATelegramAndShowsTheAnswer) {
  LinkBenchWindow& w = *window;
  ASSERT_EQ(w.PortBox->count(), 1);
  w.PortBox->setCurrentIndex(0);
  w.Switch(true);
  ASSERT_TRUE(line.Connected());
  EXPECT_TRUE(w.ActiveBox->isChecked());
  EXPECT_EQ(serial.ComPort(), pty.Path());

  // Our telegram: STX, DLE; the data with the DLE doubled, DLE ETX BCC; DLE.
  w.HexEdit->setText("01 10");
  w.Send();
  EXPECT_EQ(Expect(1), "\x02");
  pty.Write("\x10");
  EXPECT_EQ(Expect(6), std::string("\x01\x10\x10\x10\x03\x12"));
  pty.Write("\x10");
  EXPECT_TRUE(Shows(w.Telegrams, "→ 01 10"));
  EXPECT_TRUE(Shows(w.Telegrams, "alles Gesendete ist quittiert"));

  // The device's telegram 05 07.
  pty.Write("\x02");
  EXPECT_EQ(Expect(1), "\x10");
  pty.Write(std::string("\x05\x07\x10\x03\x11"));
  EXPECT_EQ(Expect(1), "\x10");
  EXPECT_TRUE(Shows(w.Telegrams, "← 05 07"));
  EXPECT_TRUE(Shows(w.Log, "Gesendet -")) << "the traffic log reached the window";
  EXPECT_TRUE(line.ProtokollListe.empty()) << "and was moved, not copied";

  w.Switch(false);
  EXPECT_FALSE(serial.Active());
  EXPECT_FALSE(w.ActiveBox->isChecked());
}

TEST_F(LinkBench, PortThatDoesNotOpenIsReported) {
  window->PortBox->setCurrentText("/dev/null");  // no terminal
  window->Switch(true);
  EXPECT_FALSE(line.Connected());
  EXPECT_TRUE(window->Telegrams->toPlainText().contains("keine Verbindung über /dev/null"));
  EXPECT_TRUE(window->Log->toPlainText().contains("Port Neustart"));
}

}  // namespace
