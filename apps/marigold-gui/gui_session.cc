#include "gui_session.h"

namespace marigold::gui {

GuiSession::GuiSession(std::vector<std::string> photoPaths) : manager_({}) {
  application_.setAlertPresenter(&presenter_);
  application_.setSynchronousWaiter(&waiter_);
  plugin_ = std::make_unique<host::LoadedPlugin>(host::defaultPluginPath(), manager_, application_,
                                                 loop_);
  plugin_->plugin().viewWillBeActivated();
  // The plug-in sees no photo until the window has prepared the selection.
  window_ =
      std::make_unique<ExportWindow>(manager_, plugin_->plugin(), scratch_, std::move(photoPaths));
  window_->setPluginBusy([this] { return waiter_.waiting(); });
  presenter_.setParent(window_.get());
  waiter_.setWindow(window_.get());
}

GuiSession::~GuiSession() {
  window_.reset();
  plugin_.reset();
  application_.setAlertPresenter(nullptr);
  application_.setSynchronousWaiter(nullptr);
}

}  // namespace marigold::gui
