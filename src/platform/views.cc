#include "platform/views.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace marigold {

View::~View() {
  for (const auto& subview : subviews_) subview->superview_ = nullptr;
}

void View::addSubview(std::shared_ptr<View> view) {
  if (!view) throw std::logic_error("addSubview: no view given");
  for (const View* ancestor = this; ancestor != nullptr; ancestor = ancestor->superview_) {
    if (ancestor == view.get()) {
      throw std::logic_error("addSubview: a view cannot contain itself or one of its ancestors");
    }
  }
  view->removeFromSuperview();
  view->superview_ = this;
  subviews_.push_back(view);
  changed();
  view->changed();
}

std::shared_ptr<View> View::viewWithIdentifier(std::string_view identifier) {
  // An explicit stack: a pane's depth is small, but nothing here should depend on it.
  std::vector<std::shared_ptr<View>> pending(subviews_.rbegin(), subviews_.rend());
  while (!pending.empty()) {
    std::shared_ptr<View> view = std::move(pending.back());
    pending.pop_back();
    if (view->identifier_ == identifier) return view;
    pending.insert(pending.end(), view->subviews_.rbegin(), view->subviews_.rend());
  }
  return nullptr;
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (parent == nullptr) return;
  auto& siblings = parent->subviews_;
  auto it = std::find_if(siblings.begin(), siblings.end(),
                         [this](const auto& subview) { return subview.get() == this; });
  // Keeps this view alive to the end of the call: the superview may have held the last reference.
  std::shared_ptr<View> self = std::move(*it);
  siblings.erase(it);
  superview_ = nullptr;
  parent->changed();
  changed();
}

bool View::performKeyEquivalent(const KeyEvent& event) {
  if (hidden_) return false;
  // A copy: a handler may rearrange the views.
  const auto subviews = subviews_;
  return std::any_of(subviews.begin(), subviews.end(), [&event](const auto& subview) {
    return subview->performKeyEquivalent(event);
  });
}

bool TextField::performAction() {
  if (!action_ || !isEnabled() || isHidden()) return false;
  auto action = action_;  // a copy: the action may replace itself or release this field
  action();
  return true;
}

bool Button::performClick() {
  if (!isEnabled() || isHidden()) return false;
  runAction();
  return true;
}

void Button::runAction() const {
  // A copy: the action may replace itself or release this button.
  if (auto action = action_) action();
}

bool Button::performKeyEquivalent(const KeyEvent& event) {
  if (keyEquivalent_.empty() || event.charactersIgnoringModifiers != keyEquivalent_) return false;
  return performClick();
}

bool CheckBox::performClick() {
  if (!isEnabled() || isHidden()) return false;
  setState(state_ == ControlState::kOn ? ControlState::kOff : ControlState::kOn);
  runAction();
  return true;
}

void PopUpButton::removeAllItems() {
  if (items_.empty() && !selected_) return;
  items_.clear();
  selected_.reset();
  changed();
}

void PopUpButton::addItemWithTitle(std::string title) {
  std::optional<std::string> selectedTitle = titleOfSelectedItem();
  std::erase(items_, title);
  items_.push_back(std::move(title));
  if (!selectedTitle) {
    selected_ = items_.size() == 1 ? std::optional<std::size_t>(0) : std::nullopt;
  } else {
    // The selected item may have moved to the end.
    auto it = std::find(items_.begin(), items_.end(), *selectedTitle);
    selected_ = static_cast<std::size_t>(it - items_.begin());
  }
  changed();
}

void PopUpButton::selectItemAtIndex(std::optional<std::size_t> index) {
  if (index && *index >= items_.size()) index.reset();
  update(selected_, index);
}

bool PopUpButton::selectItemWithTitle(const std::string& title) {
  auto it = std::find(items_.begin(), items_.end(), title);
  if (it == items_.end()) {
    selectItemAtIndex(std::nullopt);
    return false;
  }
  selectItemAtIndex(static_cast<std::size_t>(it - items_.begin()));
  return true;
}

std::optional<std::string> PopUpButton::titleOfSelectedItem() const {
  if (!selected_) return std::nullopt;
  return items_[*selected_];
}

void ImageView::setImage(std::optional<Image> image) {
  image_ = std::move(image);
  changed();
}

}  // namespace marigold
