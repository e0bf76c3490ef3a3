// The host's export manager: the photos the user selected, the export window, and whether the
// host's own export controls are enabled. The plug-in reaches it through ExportImageProtocol.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"
#include "plugin/host_protocol.h"

namespace marigold::host {

class ExportManager : public ExportImageProtocol {
 public:
  explicit ExportManager(std::vector<std::string> photoPaths)
      : paths_(std::move(photoPaths)), window_(std::make_shared<Window>("Export")) {}

  std::uint32_t imageCount() override { return static_cast<std::uint32_t>(paths_.size()); }
  std::string imagePathAtIndex(std::uint32_t index) override {
    return index < paths_.size() ? paths_[index] : std::string();
  }
  std::shared_ptr<Window> window() override { return window_; }
  void enableControls() override { controlsEnabled_ = true; }
  void disableControls() override { controlsEnabled_ = false; }

  bool controlsEnabled() const { return controlsEnabled_; }

 private:
  std::vector<std::string> paths_;
  std::shared_ptr<Window> window_;
  bool controlsEnabled_ = false;
};

}  // namespace marigold::host
