// Shows the plug-in's modal alerts (Alert::runModal) as Qt message boxes over the export window,
// with the alert's texts, an icon for its style and its buttons in order, unless the window shows
// the alert in a sheet of its own. Not copyable.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/application.h"

namespace marigold::gui {

class MessageBoxPresenter : public AlertPresenter {
 public:
  MessageBoxPresenter() = default;
  MessageBoxPresenter(const MessageBoxPresenter&) = delete;
  MessageBoxPresenter& operator=(const MessageBoxPresenter&) = delete;

  void setParent(QWidget* parent) { parent_ = parent; }  // the window the boxes belong to
  // Offered each alert first: answers true when it shows the alert itself (the window's failure
  // sheet says an upload's error), and no box comes up; the alert's first button answers.
  void setTaker(std::function<bool(const Alert&)> taker) { taker_ = std::move(taker); }
  // Blocks in a nested event loop (the upload and the window go on) until the user answers.
  std::size_t presentModal(const Alert& alert) override;

 private:
  QPointer<QWidget> parent_;
  std::function<bool(const Alert&)> taker_;
};

}  // namespace marigold::gui
