#include "platform/window.h"

#include <algorithm>
#include <utility>

#include "platform/alert.h"

namespace marigold {

Window::Window(std::string title)
    : title_(std::move(title)), contentView_(std::make_shared<Box>()) {}

Window::~Window() {
  for (const auto& sheet : sheets_) {
    sheet->window_ = nullptr;
    sheet->endHandler_ = nullptr;
  }
}

void Window::attachSheet(std::shared_ptr<Alert> sheet) {
  sheets_.push_back(std::move(sheet));
  changed();
}

void Window::detachSheet(const Alert& sheet) {
  std::erase_if(sheets_, [&sheet](const auto& shown) { return shown.get() == &sheet; });
  changed();
}

}  // namespace marigold
