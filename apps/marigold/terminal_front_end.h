// Renders the plug-in's sheets and alerts in the terminal. A progress sheet (one that shows a
// progress bar) is followed as it changes: its messages and the upload's bar, drawn in place on a
// terminal and as occasional plain lines otherwise, on the progress stream (none when quiet). Its
// outcome is left to the caller. Any other sheet, and every modal alert, is an error: printed once
// on standard error as it appears, its texts escaped (terminal_text.h); modal alerts are answered
// with their first button. Once a post's whole body is sent, an interruption or a failure without
// an answer means the post may be on the blog already, and is reported so. Main thread only; not
// copyable.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "interrupts.h"
#include "platform/alert.h"
#include "platform/application.h"
#include "platform/observable.h"
#include "platform/window.h"
#include "plugin/pane_contract.h"

namespace marigold::cli {

class TerminalFrontEnd : public AlertPresenter {
 public:
  // The console's progress() receives the progress lines (none when quiet); errors go through
  // its error().
  TerminalFrontEnd(Window& window, Console& console);
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  std::size_t presentModal(const Alert& alert) override;

  // Ends a progress line drawn in place, so that what follows starts on a fresh line.
  void finishLine();

  // Whether `text` repeats an error already printed for a modal alert, which a sheet's outcome
  // often quotes ("The post failed: " and the connection's error).
  bool alreadyShown(const std::string& text) const;

  std::size_t errorsShown() const { return shownErrors_.size(); }

  // Whether the upload under way, or the last one, failed without an answer after its whole body
  // was sent (this was printed), so that the post may be on the blog.
  bool mayBePosted() const { return mayBePosted_; }
  // The plug-in's report of how far an upload has got (PluginServices::uploadProgressed): the
  // first one starts an upload, whose sheet comes next.
  void uploadProgressed(const pane::UploadProgress& progress);
  // The upload's outcome is known: an interruption no longer concerns it.
  void uploadEnded();

  static bool isProgressSheet(const Alert& sheet);

 private:
  void windowChanged();
  void render(const Alert& sheet);
  void printError(const Alert& alert);

  Window& window_;
  Console& console_;
  std::FILE* progress_;
  Interrupts& interrupts_;
  bool tty_;
  Subscription windowSubscription_;
  std::vector<std::shared_ptr<Alert>> watched_;
  std::vector<Subscription> sheetSubscriptions_;
  std::vector<std::string> shownErrors_;
  std::string lastMessage_;
  int lastTenth_ = -1;
  bool lineOpen_ = false;
  bool uploading_ = false;
  std::weak_ptr<Alert> uploadSheet_;  // the running upload's sheet, once it came
  pane::UploadProgress upload_;       // as the plug-in last reported it
  bool bodySent_ = false;
  bool mayBePosted_ = false;
};

}  // namespace marigold::cli
