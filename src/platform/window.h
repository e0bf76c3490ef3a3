// A headless window: a title, a content view, whether it has been closed, and the alerts shown on
// it as sheets (oldest first; the newest is the one in front). A front end renders the sheets and
// presses their buttons (Alert::pressButton). Not copyable; the host owns its windows.
// Main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/observable.h"
#include "platform/views.h"

namespace marigold {

class Alert;

class Window : public Observable {
 public:
  explicit Window(std::string title = "");
  ~Window() override;

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { update(title_, std::move(title)); }
  const std::shared_ptr<Box>& contentView() const { return contentView_; }

  void close() { update(closed_, true); }
  bool isClosed() const { return closed_; }

  const std::vector<std::shared_ptr<Alert>>& sheets() const { return sheets_; }

 private:
  friend class Alert;
  void attachSheet(std::shared_ptr<Alert> sheet);
  void detachSheet(const Alert& sheet);

  std::string title_;
  std::shared_ptr<Box> contentView_;
  bool closed_ = false;
  std::vector<std::shared_ptr<Alert>> sheets_;
};

}  // namespace marigold
