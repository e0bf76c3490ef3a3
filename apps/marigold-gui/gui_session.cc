#include "gui_session.h"

namespace marigold::gui {

GuiSession::GuiSession(std::vector<std::string> photoPaths) : manager_(std::move(photoPaths)) {
  application_.setAlertPresenter(&presenter_);
  plugin_ = std::make_unique<host::LoadedPlugin>(host::defaultPluginPath(), manager_, application_,
                                                 loop_);
  plugin_->plugin().viewWillBeActivated();
  window_ = std::make_unique<ExportWindow>(manager_, plugin_->plugin());
  presenter_.setParent(window_.get());
}

GuiSession::~GuiSession() {
  window_.reset();
  plugin_.reset();
  application_.setAlertPresenter(nullptr);
}

}  // namespace marigold::gui
