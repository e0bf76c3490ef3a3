// The last stop for an exception at a Qt boundary (a slot, a socket notifier, the run loop's
// timer): nothing may unwind through Qt's event loop, so the exception ends there, goes to the log
// and is shown to the user in a message box once the event loop is back in control.
#pragma once

#include <exception>

class QWidget;

namespace marigold::gui {

void showInternalError(QWidget* parent, const std::exception_ptr& exception) noexcept;

// Runs `body`; an exception it throws goes to showInternalError.
template <typename Body>
void guardedSlot(QWidget* parent, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    showInternalError(parent, std::current_exception());
  }
}

}  // namespace marigold::gui
