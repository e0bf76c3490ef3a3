// An alert: a message, an informative text, a style, buttons and an optional accessory view (a
// progress bar, an image). It is shown either as a sheet on a window, which does not block and
// calls an end handler when a button is pressed, or modally with runModal, which blocks until the
// application's alert presenter (see Application) answers. An alert shown without buttons gets one
// "OK" button. Create alerts with Alert::create; the window holds a sheet while it is shown.
// Main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "platform/observable.h"
#include "platform/views.h"

namespace marigold {

class Application;
class Window;

enum class AlertStyle { kWarning = 0, kInformational = 1, kCritical = 2 };

// The answer of an alert: the first button gives kAlertFirstButtonReturn, the next one more.
using ModalResponse = long;
inline constexpr ModalResponse kAlertFirstButtonReturn = 1000;

class Alert : public Observable, public std::enable_shared_from_this<Alert> {
  struct Passkey {};

 public:
  using EndHandler = std::function<void(ModalResponse)>;

  static std::shared_ptr<Alert> create();
  // An alert describing `error`: its shown description as the message, its domain and code (and
  // its description as written, where the message words it otherwise) as the informative text,
  // style warning, one "OK" button.
  static std::shared_ptr<Alert> alertWithError(const Error& error);
  explicit Alert(Passkey);
  ~Alert() override;

  const std::string& messageText() const { return messageText_; }
  void setMessageText(std::string text) { update(messageText_, std::move(text)); }
  const std::string& informativeText() const { return informativeText_; }
  void setInformativeText(std::string text) { update(informativeText_, std::move(text)); }
  // The service's own words and codes behind the plain texts (an HTTP status, a reason word), for
  // a "Details" disclosure; empty when there are none.
  const std::string& details() const { return details_; }
  void setDetails(std::string text) { update(details_, std::move(text)); }
  AlertStyle alertStyle() const { return alertStyle_; }
  // The error an alertWithError describes, for a host that words it in its own way; absent for
  // other alerts.
  const std::optional<Error>& error() const { return error_; }
  void setAlertStyle(AlertStyle style) { update(alertStyle_, style); }

  // Adds a button at the end; clicking it (or pressButton) ends the alert with its response.
  std::shared_ptr<Button> addButtonWithTitle(std::string title);
  const std::vector<std::shared_ptr<Button>>& buttons() const { return buttons_; }

  // The accessory view, absent when none is set or it was removed from its superview. Setting one
  // takes it from its previous superview and replaces the previous accessory.
  std::shared_ptr<View> accessoryView() const;
  void setAccessoryView(std::shared_ptr<View> view);

  // Shows the alert as a sheet on `window` and returns at once. When a button is pressed the sheet
  // leaves the window, then `endHandler` (if any) runs with that button's response. Throws
  // std::logic_error when the alert is already shown.
  void beginSheetModalForWindow(Window& window, EndHandler endHandler = nullptr);
  Window* sheetWindow() const { return window_; }  // the window while shown as a sheet
  // Takes the sheet off its window without a button press (the work it waited for has ended);
  // the end handler does not run. No effect when the alert is not shown as a sheet.
  void endSheet();

  // Presses the button at `index` as the user would: answers false, and does nothing, when the
  // alert is not shown as a sheet, or the button does not exist or is disabled.
  bool pressButton(std::size_t index);

  // Shows the alert through the application's presenter and answers the response of the button
  // pressed. Without a presenter the alert's texts go to the log and the first button answers.
  ModalResponse runModal(Application& application);

 private:
  friend class Window;  // forgets its sheets when it goes away
  void ensureButton();
  void buttonClicked(std::size_t index);
  void watchAccessory();

  std::string messageText_;
  std::string informativeText_;
  std::string details_;
  AlertStyle alertStyle_ = AlertStyle::kWarning;
  std::optional<Error> error_;
  std::vector<std::shared_ptr<Button>> buttons_;
  std::vector<Subscription> buttonSubscriptions_;
  std::shared_ptr<View> accessoryContainer_;
  Subscription containerSubscription_;
  Subscription accessorySubscription_;
  Window* window_ = nullptr;
  EndHandler endHandler_;
};

}  // namespace marigold
