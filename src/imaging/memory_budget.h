// The memory one preparation may take for decoded pictures, shared by the photos it prepares at
// once: a photo takes its share (what its decode will hold) before it starts and gives it back
// when done, waiting while others hold too much. So a preparation stays within one bound however
// many cores prepare photos side by side. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace marigold::imaging {

class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t bytes) : total_(bytes), free_(bytes) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  std::uint64_t total() const { return total_; }

  // A share taken from the budget, given back when it goes.
  class Share {
   public:
    Share() = default;
    Share(Share&& other) noexcept;
    Share& operator=(Share&& other) noexcept;
    ~Share();

   private:
    friend class MemoryBudget;
    Share(MemoryBudget* budget, std::uint64_t bytes) : budget_(budget), bytes_(bytes) {}
    MemoryBudget* budget_ = nullptr;
    std::uint64_t bytes_ = 0;
  };

  // Waits until `bytes` are free and takes them; `bytes` must be at most total().
  [[nodiscard]] Share take(std::uint64_t bytes);

 private:
  void giveBack(std::uint64_t bytes);

  const std::uint64_t total_;
  std::mutex lock_;
  std::condition_variable freed_;
  std::uint64_t free_;
};

}  // namespace marigold::imaging
