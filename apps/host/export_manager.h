// The host's export manager: the photo files the plug-in exports (the host's prepared copies of
// the user's selection), the export window, and whether the host's own export controls are
// enabled. The plug-in reaches it through ExportImageProtocol; a graphical host changes the files
// and follows the controls through a handler.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"
#include "plugin/host_protocol.h"

namespace marigold::host {

// The longest a host waits for a post to end once it has started. The plug-in bounds its own
// exchange well within this; the host's bound only ends a post that would otherwise never end.
inline constexpr std::chrono::minutes kLongestPostWait{35};

class ExportManager : public ExportImageProtocol {
 public:
  explicit ExportManager(std::vector<std::string> photoPaths)
      : paths_(std::move(photoPaths)), window_(std::make_shared<Window>("Export")) {}

  std::uint32_t imageCount() override { return static_cast<std::uint32_t>(paths_.size()); }
  std::string imagePathAtIndex(std::uint32_t index) override {
    return index < paths_.size() ? paths_[index] : std::string();
  }
  std::shared_ptr<Window> window() override { return window_; }
  // A fresh export window for the plug-in's next run, once it has closed this one (a graphical
  // host keeps its window open after a failed post, so that the user can try again).
  void reopenWindow() { window_ = std::make_shared<Window>(window_->title()); }
  void enableControls() override { setControlsEnabled(true); }
  void disableControls() override { setControlsEnabled(false); }

  bool controlsEnabled() const { return controlsEnabled_; }
  // Called with the new state whenever the plug-in enables or disables the host's controls.
  void setControlsHandler(std::function<void(bool)> handler) {
    controlsHandler_ = std::move(handler);
  }

  const std::vector<std::string>& photoPaths() const { return paths_; }
  // New files; the host then shows the pane again so that the plug-in looks at them.
  void setPhotoPaths(std::vector<std::string> paths) { paths_ = std::move(paths); }

 private:
  void setControlsEnabled(bool enabled) {
    controlsEnabled_ = enabled;
    if (controlsHandler_) controlsHandler_(enabled);
  }

  std::vector<std::string> paths_;
  std::shared_ptr<Window> window_;
  bool controlsEnabled_ = false;
  std::function<void(bool)> controlsHandler_;
};

}  // namespace marigold::host
