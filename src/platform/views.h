// Headless views: the controls of the plug-in's settings pane and sheets without a drawing
// toolkit. Each keeps its state as plain values that tests read directly, and notifies its
// observers (see Observable) after every change so that a front end can render it. Views are
// shared (std::shared_ptr) between the pane's interface definition, the controller and the front
// end; a view owns its subviews and refers to its superview without owning it.
// Main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image.h"
#include "platform/key_event.h"
#include "platform/observable.h"

namespace marigold {

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

class View : public Observable {
 public:
  View() = default;
  explicit View(Rect frame) : frame_(frame) {}
  ~View() override;

  Rect frame() const { return frame_; }
  void setFrame(Rect frame) { update(frame_, frame); }
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { update(hidden_, hidden); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { update(enabled_, enabled); }

  // A name that a front end finds the view by (the pane names its controls after their outlets).
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  // The first of this view's descendants (depth first) with the identifier; null when none.
  std::shared_ptr<View> viewWithIdentifier(std::string_view identifier);

  // Appends `view` to the subviews, taking it from its previous superview first. Throws
  // std::logic_error when `view` is absent, this view itself or one of its ancestors.
  void addSubview(std::shared_ptr<View> view);
  // Takes this view out of its superview (which may have held the last reference to it);
  // nothing happens without a superview.
  void removeFromSuperview();
  View* superview() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

  // Offers a key equivalent to the subviews in order; answers whether one of them handled it.
  // Hidden views handle nothing.
  virtual bool performKeyEquivalent(const KeyEvent& event);

 private:
  Rect frame_;
  bool hidden_ = false;
  bool enabled_ = true;
  std::string identifier_;
  View* superview_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
};

// An editable line of text, with an optional action that the front end fires when the user
// presses Return in it.
class TextField : public View {
 public:
  using View::View;
  const std::string& stringValue() const { return stringValue_; }
  void setStringValue(std::string value) { update(stringValue_, std::move(value)); }
  virtual bool isSecure() const { return false; }

  void setAction(std::function<void()> action) { action_ = std::move(action); }
  bool hasAction() const { return static_cast<bool>(action_); }
  // Return pressed in the field: runs the action when there is one and the field is enabled and
  // visible, and answers whether it did.
  bool performAction();

 private:
  std::string stringValue_;
  std::function<void()> action_;
};

// A text field whose contents a front end shows masked (passwords).
class SecureTextField : public TextField {
 public:
  using TextField::TextField;
  bool isSecure() const override { return true; }
};

// A push button with a title and an action. A key equivalent, when set, clicks it.
class Button : public View {
 public:
  using View::View;
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { update(title_, std::move(title)); }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { update(keyEquivalent_, std::move(key)); }
  void setAction(std::function<void()> action) { action_ = std::move(action); }

  // A click by the user: runs the action when the button is enabled and visible, and answers
  // whether it did.
  virtual bool performClick();
  // Clicks the button when the event's characters equal its key equivalent.
  bool performKeyEquivalent(const KeyEvent& event) override;

 protected:
  void runAction() const;

 private:
  std::string title_;
  std::string keyEquivalent_;
  std::function<void()> action_;
};

enum class ControlState { kOff = 0, kOn = 1 };

// A check box: a button whose click toggles its state before its action runs.
class CheckBox : public Button {
 public:
  using Button::Button;
  ControlState state() const { return state_; }
  void setState(ControlState state) { update(state_, state); }
  bool performClick() override;

 private:
  ControlState state_ = ControlState::kOff;
};

// A pop-up menu of titled items with at most one selected item. Adding an item to an empty menu
// selects it; adding a title that is already there moves that item to the end.
class PopUpButton : public View {
 public:
  using View::View;
  void removeAllItems();
  void addItemWithTitle(std::string title);
  const std::vector<std::string>& itemTitles() const { return items_; }
  std::size_t numberOfItems() const { return items_.size(); }

  // Selects the item at `index`; absent or out of range clears the selection.
  void selectItemAtIndex(std::optional<std::size_t> index);
  // Selects the first item with this title; answers false and clears the selection when none has
  // it.
  bool selectItemWithTitle(const std::string& title);
  std::optional<std::size_t> indexOfSelectedItem() const { return selected_; }
  std::optional<std::string> titleOfSelectedItem() const;  // absent when nothing is selected

 private:
  std::vector<std::string> items_;
  std::optional<std::size_t> selected_;
};

// Shows an image, or nothing.
class ImageView : public View {
 public:
  using View::View;
  const std::optional<Image>& image() const { return image_; }
  void setImage(std::optional<Image> image);

 private:
  std::optional<Image> image_;
};

// A titled container of views. Subclasses react to key equivalents by overriding
// performKeyEquivalent and handing what they do not handle to Box::performKeyEquivalent.
class Box : public View {
 public:
  using View::View;
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { update(title_, std::move(title)); }

 private:
  std::string title_;
};

}  // namespace marigold
