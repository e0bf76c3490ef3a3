#include "platform/run_loop.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace marigold {
namespace {

// The longest single wait; bounds the time to notice a stop() that raced with going to sleep.
constexpr auto kMaxWait = std::chrono::milliseconds(1000);

}  // namespace

RunLoop::RunLoop() : multi_(makeCurlMulti()) {}

RunLoop::~RunLoop() {
  for (auto& [easy, done] : transfers_) curl_multi_remove_handle(multi_.get(), easy);
}

RunLoop& RunLoop::current() {
  thread_local RunLoop loop;
  return loop;
}

void RunLoop::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  curl_multi_wakeup(multi_.get());
}

RunLoop::TimerId RunLoop::addTimer(double seconds, std::function<void()> task) {
  auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(std::max(seconds, 0.0)));
  TimerId id;
  {
    std::lock_guard lock(mutex_);
    id = nextTimer_++;
    timers_.emplace(id, Timer{due, std::move(task)});
  }
  curl_multi_wakeup(multi_.get());
  return id;
}

void RunLoop::cancelTimer(TimerId timer) {
  std::lock_guard lock(mutex_);
  timers_.erase(timer);
}

void RunLoop::run() {
  runUntil([] { return false; }, std::nullopt);
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, std::optional<double> seconds) {
  std::optional<Clock::time_point> deadline;
  if (seconds) {
    deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(std::max(*seconds, 0.0)));
  }
  ++depth_;
  bool satisfied = predicate();
  while (!satisfied && !stopRequested_ && (!deadline || Clock::now() < *deadline)) {
    runOnce(deadline);
    satisfied = predicate();
  }
  stopRequested_ = false;
  --depth_;
  return satisfied;
}

void RunLoop::stop() {
  if (depth_ == 0) return;
  stopRequested_ = true;
  curl_multi_wakeup(multi_.get());
}

void RunLoop::addTransfer(CURL* easy, std::function<void(CURLcode)> done) {
  CURLMcode code = curl_multi_add_handle(multi_.get(), easy);
  if (code != CURLM_OK) {
    throw std::runtime_error(std::string("libcurl could not start a transfer: ") +
                             curl_multi_strerror(code));
  }
  transfers_[easy] = std::move(done);
}

void RunLoop::removeTransfer(CURL* easy) {
  if (transfers_.erase(easy) > 0) curl_multi_remove_handle(multi_.get(), easy);
}

void RunLoop::runOnce(std::optional<Clock::time_point> deadline) {
  bool worked = runDueTimers();
  worked = runQueuedTasks() || worked;
  if (stopRequested_) return;
  // After work, only look at the transfers without sleeping: the caller re-checks its predicate.
  waitAndAdvanceTransfers(worked ? std::optional(Clock::now()) : deadline);
}

bool RunLoop::runDueTimers() {
  bool ran = false;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      auto now = Clock::now();
      auto due = std::find_if(timers_.begin(), timers_.end(),
                              [&](const auto& entry) { return entry.second.due <= now; });
      if (due == timers_.end()) return ran;
      task = std::move(due->second.task);
      timers_.erase(due);
    }
    task();
    ran = true;
  }
}

bool RunLoop::runQueuedTasks() {
  std::vector<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  // Tasks posted while this batch runs wait for the next round, so a task that re-posts itself
  // cannot starve timers and transfers.
  for (auto& task : batch) task();
  return !batch.empty();
}

void RunLoop::waitAndAdvanceTransfers(std::optional<Clock::time_point> deadline) {
  auto now = Clock::now();
  auto wakeAt = now + kMaxWait;
  {
    std::lock_guard lock(mutex_);
    if (!tasks_.empty()) wakeAt = now;
    for (const auto& [id, timer] : timers_) wakeAt = std::min(wakeAt, timer.due);
  }
  if (deadline) wakeAt = std::min(wakeAt, *deadline);
  auto waitMs =
      std::chrono::ceil<std::chrono::milliseconds>(std::max(wakeAt - now, Clock::duration::zero()));
  curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(waitMs.count()), nullptr);

  int running = 0;
  curl_multi_perform(multi_.get(), &running);
  std::vector<std::pair<std::function<void(CURLcode)>, CURLcode>> finished;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    auto entry = transfers_.find(message->easy_handle);
    if (entry == transfers_.end()) continue;
    finished.emplace_back(std::move(entry->second), message->data.result);
    transfers_.erase(entry);
    curl_multi_remove_handle(multi_.get(), message->easy_handle);
  }
  for (auto& [done, result] : finished) done(result);
}

}  // namespace marigold
