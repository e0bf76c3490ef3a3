#include "platform/alert.h"

#include <stdexcept>
#include <utility>

#include "base/log.h"
#include "base/translation.h"
#include "platform/application.h"
#include "platform/window.h"

namespace marigold {

std::shared_ptr<Alert> Alert::create() { return std::make_shared<Alert>(Passkey{}); }

std::shared_ptr<Alert> Alert::alertWithError(const Error& error) {
  auto alert = create();
  alert->setMessageText(error.description.empty() ? error.text() : error.shownDescription());
  std::string details = error.domain + " error " + std::to_string(error.code) + ".";
  // The technical account, as written for the log, where the message says it in other words.
  if (error.shownDescription() != error.description) details += " " + error.description;
  if (error.underlying) details += " " + error.underlying->description;
  alert->setInformativeText(std::move(details));
  alert->addButtonWithTitle(tr("OK"));
  alert->error_ = error;
  return alert;
}

Alert::Alert(Passkey) : accessoryContainer_(std::make_shared<View>()) {
  containerSubscription_ = accessoryContainer_->onChange([this] {
    watchAccessory();
    changed();
  });
}

Alert::~Alert() {
  if (window_ != nullptr) window_->detachSheet(*this);
}

std::shared_ptr<Button> Alert::addButtonWithTitle(std::string title) {
  auto button = std::make_shared<Button>();
  button->setTitle(std::move(title));
  const std::size_t index = buttons_.size();
  button->setAction([weak = weak_from_this(), index] {
    if (auto alert = weak.lock()) alert->buttonClicked(index);
  });
  // A front end that renders the alert sees its buttons change through the alert.
  buttonSubscriptions_.push_back(button->onChange([this] { changed(); }));
  buttons_.push_back(button);
  changed();
  return button;
}

std::shared_ptr<View> Alert::accessoryView() const {
  const auto& subviews = accessoryContainer_->subviews();
  return subviews.empty() ? nullptr : subviews.front();
}

void Alert::setAccessoryView(std::shared_ptr<View> view) {
  if (view && view == accessoryView()) return;
  // Each step below notifies through the container.
  while (!accessoryContainer_->subviews().empty()) {
    accessoryContainer_->subviews().front()->removeFromSuperview();
  }
  if (view) accessoryContainer_->addSubview(std::move(view));
}

void Alert::watchAccessory() {
  auto accessory = accessoryView();
  accessorySubscription_ = accessory ? accessory->onChange([this] { changed(); }) : Subscription();
}

void Alert::ensureButton() {
  if (buttons_.empty()) addButtonWithTitle(tr("OK"));
}

void Alert::beginSheetModalForWindow(Window& window, EndHandler endHandler) {
  if (window_ != nullptr) throw std::logic_error("alert \"" + messageText_ + "\" is already shown");
  ensureButton();
  endHandler_ = std::move(endHandler);
  window_ = &window;
  window.attachSheet(shared_from_this());
  changed();
}

bool Alert::pressButton(std::size_t index) {
  if (window_ == nullptr || index >= buttons_.size()) return false;
  return buttons_[index]->performClick();
}

void Alert::endSheet() {
  if (window_ == nullptr) return;
  auto self = shared_from_this();
  Window* window = std::exchange(window_, nullptr);
  endHandler_ = nullptr;
  window->detachSheet(*this);
  changed();
}

void Alert::buttonClicked(std::size_t index) {
  if (window_ == nullptr) return;
  // The handler may release the alert, close the window or show this alert again.
  auto self = shared_from_this();
  Window* window = std::exchange(window_, nullptr);
  EndHandler handler = std::exchange(endHandler_, nullptr);
  window->detachSheet(*this);
  changed();
  if (handler) handler(kAlertFirstButtonReturn + static_cast<ModalResponse>(index));
}

ModalResponse Alert::runModal(Application& application) {
  ensureButton();
  std::size_t index = 0;
  if (AlertPresenter* presenter = application.alertPresenter()) {
    index = presenter->presentModal(*this);
    if (index >= buttons_.size()) index = 0;
  } else {
    std::string line = "alert: " + messageText_;
    if (!informativeText_.empty()) line += " (" + informativeText_ + ")";
    log(line + " [" + buttons_.front()->title() + "]");
  }
  return kAlertFirstButtonReturn + static_cast<ModalResponse>(index);
}

}  // namespace marigold
