// The fixture of the run logic's tests: the form on a recording view, the virtual clock and
// the fake comm port (TZORurerizudorTest.cpp, and the tests of what Linux shows in
// TZORurerizudorLinuxTest.cpp).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/TZORurerizudor.h"
#include "platform/FakeCommPort.h"
#include "platform/System.h"
#include "platform/VirtualMainLoop.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"
#include "tests/app/RecordingView.h"

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace form_test {

inline ByteString Bytes(std::initializer_list<int> values) {
  ByteString s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// The data of a stored 3964R frame: without DLE ETX BCC, doubled DLEs made single.
inline ByteString FrameData(const ByteString& frame) {
  ByteString data;
  if (frame.size() < 3) return data;
  for (std::size_t i = 0; i < frame.size() - 3; ++i) {
    data += frame[i];
    if (frame[i] == '\x10') ++i;
  }
  return data;
}

inline const ByteString kEntry = ByteString("\x00\x02\xF0\x00", 4) + "Riduvedari";
inline const ByteString kFinish = Bytes({0xF0, 0x0A, 0x01});
inline const ByteString kLeave = Bytes({0xF0, 0x0A, 0x00});
inline const char* kAbortText = "MirbaZento Flashen abgebrochen, bitte Mirbazento neu starten !!!";

class Form : public ::testing::Test {
 protected:
  void SetUp() override { Make("VERidOvudida"); }
  void TearDown() override {
    form.reset();
    loop.Shutdown();
  }

  void Make(const std::string& executable, bool end_wait_blocks = true) {
    form.reset();
    form = std::make_unique<TZORurerizudor>(
        TZORurerizudor::Setup{loop, messages, view, [this] { return machine_ports; }, executable,
                              [this](TObject* owner, platform::MainLoop& l) {
                                return std::make_unique<TDaVevureRez>(owner, l, ports);
                              },
                              std::chrono::milliseconds(300000), end_wait_blocks});
    form->OnRunEnded = [this](RunResult r) { ended.push_back(r); };
  }

  // Presses Flash with a fake port that opens.
  void Start() {
    port = ports.Add(platform::DevicePath("ttyFAKE"));
    view.port_text = "ttyFAKE";
    form->FlashClick();
    ASSERT_TRUE(form->Running());
  }

  TRiVadaroverEza& Protocol() { return form->RiVadaroverEza1(); }

  // A run with every block delivered and the finish command handed over.
  void StartToTheFinish() {
    messages.shown.clear();
    ended.clear();
    Start();
    Deliver();
    Device({Bytes({0x00, 0x02, 0x00, 0x03, 0x1D})});
    Deliver();
    form->RiVadaroverEza1SuccessfulReadyEvent(&Protocol());
  }

  // What the form has handed to the protocol component, oldest first.
  Strings Handed() {
    Strings data;
    for (const auto& frame : Protocol().ToSendListe) data.push_back(FrameData(frame.GetDataAsString()));
    return data;
  }
  // Lets the device "say" messages: they wait in the protocol's queue, then the event.
  void Device(std::initializer_list<ByteString> telegrams) {
    for (const auto& t : telegrams) Protocol().ToProzessListe.emplace_back(t);
    form->RiVadaroverEza1DataRecieveEvent(&Protocol());
  }
  // Takes everything handed over so far off the protocol's queue, as if delivered.
  void Deliver() { Protocol().ToSendListe.clear(); }

  Strings Boxes() const {
    Strings texts;
    for (const auto& b : messages.shown) texts.push_back(b.text);
    return texts;
  }

  platform::VirtualMainLoop loop;
  platform::RecordingMessages messages;
  RecordingView view;
  platform::FakeCommPortFactory ports;
  std::shared_ptr<platform::FakeCommPort> port;
  std::vector<std::string> machine_ports{"/dev/ttyS0", "/dev/ttyUSB0"};
  std::unique_ptr<TZORurerizudor> form;
  std::vector<RunResult> ended;
};

}  // namespace form_test
