// Renders the plug-in's sheets and alerts in the terminal. Sheets on the export window are
// followed as they change: their message, and the progress bar of an upload (drawn in place on a
// terminal, as occasional plain lines otherwise). Modal alerts are printed to standard error and
// answered with their first button. Main thread only; not copyable.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/alert.h"
#include "platform/application.h"
#include "platform/observable.h"
#include "platform/window.h"

namespace marigold::cli {

class TerminalFrontEnd : public AlertPresenter {
 public:
  TerminalFrontEnd(Window& window, std::FILE* out);
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  std::size_t presentModal(const Alert& alert) override;

  // Ends a progress line drawn in place, so that what follows starts on a fresh line.
  void finishLine();

 private:
  void windowChanged();
  void render(const Alert& sheet);

  Window& window_;
  std::FILE* out_;
  bool tty_;
  Subscription windowSubscription_;
  std::vector<std::shared_ptr<Alert>> watched_;
  std::vector<Subscription> sheetSubscriptions_;
  std::string lastMessage_;
  int lastTenth_ = -1;
  bool lineOpen_ = false;
};

}  // namespace marigold::cli
