#include "gui_session.h"

namespace marigold::gui {

GuiSession::GuiSession(std::vector<std::string> photoPaths)
    : module_(host::defaultPluginPath()), manager_({}) {
  application_.setAlertPresenter(&presenter_);
  application_.setSynchronousWaiter(&waiter_);
  plugin_ = module_.createPlugin(manager_, application_, loop_);
  plugin_->viewWillBeActivated();
  // The plug-in sees no photo until the window has prepared the selection.
  window_ = std::make_unique<ExportWindow>(manager_, *plugin_, scratch_, std::move(photoPaths));
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
