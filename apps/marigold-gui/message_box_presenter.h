// Shows the plug-in's modal alerts (Alert::runModal) as Qt message boxes over the export window,
// with the alert's texts, an icon for its style and its buttons in order. Not copyable.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/application.h"

namespace marigold::gui {

class MessageBoxPresenter : public AlertPresenter {
 public:
  MessageBoxPresenter() = default;
  MessageBoxPresenter(const MessageBoxPresenter&) = delete;
  MessageBoxPresenter& operator=(const MessageBoxPresenter&) = delete;

  void setParent(QWidget* parent) { parent_ = parent; }  // the window the boxes belong to
  // Blocks in a nested event loop (the upload and the window go on) until the user answers.
  std::size_t presentModal(const Alert& alert) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace marigold::gui
