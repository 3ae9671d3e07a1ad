// A flasher view that records what the run logic shows, for logic tests.
#pragma once

#include <string>
#include <vector>

#include "app/FlasherView.h"

class RecordingView final : public FlasherView {
 public:
  void SetCaption(const std::string& c) override { caption = c; }
  void SetDeveloperControlsVisible(bool v) override { developer_controls = v; }
  void SetPorts(const std::vector<std::string>& items, int selected) override {
    ports = items;
    selected_port = selected;
  }
  std::string PortText() const override { return port_text; }
  std::string FileNameText() const override { return file_text; }
  void SetFlashEnabled(bool e) override {
    flash_enabled = e;
    calls.push_back(std::string("Flash ") + (e ? "on" : "off"));
  }
  void SetPortEnabled(bool e) override {
    port_enabled = e;
    calls.push_back(std::string("Port ") + (e ? "on" : "off"));
  }
  void SetProgress(int p) override {
    progress = p;
    calls.push_back("Progress " + std::to_string(p));
  }
  void SetBlockCountCaption(const std::string& c) override { block_count = c; }
  void AppendLogLines(const std::deque<std::string>& lines) override {
    memo.insert(memo.end(), lines.begin(), lines.end());
  }

  std::string caption;
  bool developer_controls = false;
  std::vector<std::string> ports;
  int selected_port = -2;
  std::string port_text;
  std::string file_text = ".\\QF20.bin";
  bool flash_enabled = true;
  bool port_enabled = true;
  int progress = -1;
  std::string block_count = "0";
  std::vector<std::string> memo;
  std::vector<std::string> calls;
};
