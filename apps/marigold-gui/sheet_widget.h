// An alert shown as a sheet on the export window, drawn over the window's top edge: its message,
// informative text, accessory (the upload's progress bar, determinate or busy, or an image) and
// buttons, all following the alert as it changes. Pressing a button presses the alert's, which
// ends the sheet. Main thread only.
#pragma once

#include <QFrame>
#include <memory>
#include <vector>

#include "platform/alert.h"
#include "platform/observable.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QHBoxLayout;

namespace marigold::gui {

class PhotoView;

class SheetWidget : public QFrame {
 public:
  SheetWidget(std::shared_ptr<Alert> alert, QWidget* parent);
  SheetWidget(const SheetWidget&) = delete;
  SheetWidget& operator=(const SheetWidget&) = delete;

  const std::shared_ptr<Alert>& alert() const { return alert_; }
  QProgressBar* progressBar() const { return bar_; }
  QPushButton* button(std::size_t index) const;

  // Resolution of the bar: the plug-in's 0-100 scale in tenths.
  static constexpr int kBarSteps = 1000;

 private:
  void render();

  std::shared_ptr<Alert> alert_;
  QLabel* message_;
  QLabel* informative_;
  QProgressBar* bar_;
  PhotoView* image_;
  QHBoxLayout* buttonRow_;
  std::vector<QPushButton*> buttons_;
  Subscription subscription_;
};

}  // namespace marigold::gui
