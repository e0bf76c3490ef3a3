// An alert shown as a sheet on the export window, drawn over the window's top edge: its message,
// informative text, accessory (the upload's progress bar, determinate or busy, or an image), a
// line of the host's own (the upload in MB) and buttons, all following the alert as it changes.
// Pressing a button presses the alert's, which ends the sheet. The host may show buttons of its
// own instead (the choices after an upload). The sheet takes the keyboard focus on its default
// button, the safe choice; Return presses the button that has the focus, Escape the one that backs
// out. Screen readers see it as an alert, and hear its changing words at most once every two
// seconds, never the same twice.
// Main thread only.
#pragma once

#include <QFrame>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/alert.h"
#include "platform/observable.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QHBoxLayout;

namespace marigold::gui {

class PhotoView;
class UploadBar;

class SheetWidget : public QFrame {
 public:
  SheetWidget(std::shared_ptr<Alert> alert, QWidget* parent);
  ~SheetWidget() override;
  SheetWidget(const SheetWidget&) = delete;
  SheetWidget& operator=(const SheetWidget&) = delete;

  const std::shared_ptr<Alert>& alert() const { return alert_; }
  QProgressBar* progressBar() const;
  // The button shown at `index` (the alert's, or the host's actions once set); null past the end.
  QPushButton* button(std::size_t index) const;
  // True when the alert came up with a progress bar: it follows an upload.
  bool followsUpload() const { return followsUpload_; }

  // Buttons of the host's own in place of the alert's: a title and what pressing it does. The one
  // at `defaultIndex` takes the focus, Escape presses the one at `escapeIndex`.
  struct Action {
    QString title;
    std::function<void()> run;
  };
  void setActions(std::vector<Action> actions, std::size_t defaultIndex, std::size_t escapeIndex);
  bool hasActions() const { return !actions_.empty(); }
  // A line of the host's under the bar; empty hides it.
  void setDetail(const QString& text);
  // The host's own heading and informative text in place of the alert's (an upload's, which
  // counts bytes); an empty heading shows the alert's texts again. Screen readers hear the
  // heading as the sheet's name.
  void setHeading(const QString& heading, const QString& informative = {});
  // Technical detail behind a "Details" button, shown when the user asks, in place of the
  // alert's own details; empty: no button.
  void setDetails(const QString& text);
  QPushButton* detailsButton() const { return detailsButton_; }
  // The host's own measure of the bar (0 to kBarSteps) while it is determinate, in place of the
  // alert's indicator; -1 leaves the bar to the indicator.
  void setOwnProgress(int steps);
  // The bar's value as last painted; its accessible value follows at most every few seconds.
  int paintedValue() const;

  // Resolution of the bar: the plug-in's 0-100 scale in tenths.
  static constexpr int kBarSteps = 1000;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class Announcer;
  void render();
  void announce();  // the words now shown, to assistive technology in its own time
  QPushButton* buttonAt(std::size_t index) const;
  void takeFocus();
  void showDetails(const QString& text);
  void fitHeight();  // tall enough for every line of its texts at its width

  std::shared_ptr<Alert> alert_;
  bool followsUpload_ = false;
  QLabel* message_;
  QLabel* informative_;
  UploadBar* bar_;
  QLabel* detail_;
  QString heading_;
  QString ownInformative_;
  int ownProgress_ = -1;
  QPushButton* detailsButton_;
  QPlainTextEdit* details_;
  bool ownDetails_ = false;  // the host's details stand in for the alert's
  PhotoView* image_;
  QHBoxLayout* buttonRow_;
  std::vector<QPushButton*> buttons_;  // the alert's
  std::vector<QPushButton*> actionButtons_;
  std::vector<Action> actions_;
  std::size_t defaultIndex_ = 0;
  std::size_t escapeIndex_ = 0;
  std::unique_ptr<Announcer> announcer_;
  Subscription subscription_;
};

}  // namespace marigold::gui
