#include "imaging/memory_budget.h"

#include <algorithm>
#include <utility>

namespace marigold::imaging {

MemoryBudget::Share::Share(Share&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

MemoryBudget::Share& MemoryBudget::Share::operator=(Share&& other) noexcept {
  if (this != &other) {
    if (budget_) budget_->giveBack(bytes_);
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

MemoryBudget::Share::~Share() {
  if (budget_) budget_->giveBack(bytes_);
}

MemoryBudget::Share MemoryBudget::take(std::uint64_t bytes) {
  bytes = std::min(bytes, total_);
  std::unique_lock guard(lock_);
  freed_.wait(guard, [&] { return free_ >= bytes; });
  free_ -= bytes;
  return Share(this, bytes);
}

void MemoryBudget::giveBack(std::uint64_t bytes) {
  {
    std::lock_guard guard(lock_);
    free_ += bytes;
  }
  freed_.notify_all();
}

}  // namespace marigold::imaging
