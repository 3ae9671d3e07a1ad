// What the flasher's run logic needs of a front end: the window is one view, the
// command-line front end the other. Texts are UTF-8. Main thread only.
#pragma once

#include <deque>
#include <string>
#include <vector>

class FlasherView {
 public:
  virtual ~FlasherView() = default;

  virtual void SetCaption(const std::string& caption) = 0;
  // Shows or hides the developer row ("BinFile", file name, "...") and the block count.
  virtual void SetDeveloperControlsVisible(bool visible) = 0;
  // Replaces the port box's items; `selected` is the index to select, or -1 for none
  // (the box's text is then empty).
  virtual void SetPorts(const std::vector<std::string>& items, int selected) = 0;
  virtual std::string PortText() const = 0;
  // The developer file name field.
  virtual std::string FileNameText() const = 0;
  virtual void SetFlashEnabled(bool enabled) = 0;
  virtual void SetPortEnabled(bool enabled) = 0;
  virtual void SetProgress(int percent) = 0;
  virtual void SetBlockCountCaption(const std::string& caption) = 0;
  // The hidden log view that receives the traffic log's lines.
  virtual void AppendLogLines(const std::deque<std::string>& lines) = 0;
};
