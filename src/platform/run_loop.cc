#include "platform/run_loop.h"

#include <locale.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/exception_barrier.h"
#include "base/log.h"

namespace marigold {
namespace {

// libcurl's error texts take the system's words for a failure (strerror) in the messages
// language, and in the C library's charset ("?" for a letter it lacks); they are kept for the log,
// which is English, so libcurl works with the C locale on this thread while it runs.
class CLocaleForLibcurl {
 public:
  CLocaleForLibcurl() : previous_(::uselocale(cLocale())) {}
  ~CLocaleForLibcurl() { ::uselocale(previous_); }
  CLocaleForLibcurl(const CLocaleForLibcurl&) = delete;
  CLocaleForLibcurl& operator=(const CLocaleForLibcurl&) = delete;

 private:
  static locale_t cLocale() {
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    return c != locale_t{} ? c : LC_GLOBAL_LOCALE;
  }
  locale_t previous_;
};

// The longest single wait; bounds the time to notice a stop() that raced with going to sleep.
constexpr auto kMaxWait = std::chrono::milliseconds(1000);

}  // namespace

RunLoop::RunLoop(const Clock& clock) : clock_(clock), multi_(makeCurlMulti()) {}

RunLoop::~RunLoop() {
  driver_ = nullptr;
  for (auto& [easy, done] : transfers_) curl_multi_remove_handle(multi_.get(), easy);
}

namespace {
// The loop a CurrentScope made current on this thread, if any.
thread_local RunLoop* scopedLoop = nullptr;
}  // namespace

RunLoop& RunLoop::current() {
  if (scopedLoop != nullptr) return *scopedLoop;
  thread_local RunLoop loop;
  return loop;
}

RunLoop::CurrentScope::CurrentScope(RunLoop& loop) : previous_(scopedLoop) { scopedLoop = &loop; }

RunLoop::CurrentScope::~CurrentScope() { scopedLoop = previous_; }

void RunLoop::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wakeUp();
}

RunLoop::TimerId RunLoop::addTimer(double seconds, std::function<void()> task) {
  auto due = clock_.now() + std::chrono::duration_cast<Clock::Steady::duration>(
                                std::chrono::duration<double>(std::max(seconds, 0.0)));
  TimerId id;
  {
    std::lock_guard lock(mutex_);
    id = nextTimer_++;
    timers_.emplace(id, Timer{due, std::move(task)});
  }
  wakeUp();
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
  using std::chrono::steady_clock;
  std::optional<RealTime> deadline;
  if (seconds) {
    deadline = steady_clock::now() + std::chrono::duration_cast<steady_clock::duration>(
                                         std::chrono::duration<double>(std::max(*seconds, 0.0)));
  }
  // The depth is put back however the run ends, a throwing task included: a stop() meant for an
  // outer run must not end the next one at once.
  struct Depth {
    RunLoop& loop;
    explicit Depth(RunLoop& l) : loop(l) { ++loop.depth_; }
    ~Depth() {
      loop.stopRequested_ = false;
      --loop.depth_;
    }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;
  } depth(*this);
  bool satisfied = predicate();
  while (!satisfied && !stopRequested_ && (!deadline || steady_clock::now() < *deadline)) {
    runOnce(deadline);
    satisfied = predicate();
  }
  return satisfied;
}

void RunLoop::stop() {
  if (depth_ == 0) return;
  stopRequested_ = true;
  curl_multi_wakeup(multi_.get());
}

void RunLoop::addTransfer(CURL* easy, std::function<void(CURLcode)> done) {
  CURLMcode code = curl_multi_add_handle(multi_.get(), easy);
  rethrowDriverException();
  if (code != CURLM_OK) {
    throw std::runtime_error(std::string("libcurl could not start a transfer: ") +
                             curl_multi_strerror(code));
  }
  transfers_[easy] = std::move(done);
}

void RunLoop::removeTransfer(CURL* easy) {
  if (transfers_.erase(easy) > 0) curl_multi_remove_handle(multi_.get(), easy);
}

void RunLoop::runOnce(std::optional<RealTime> deadline) {
  bool worked = runDueTimers();
  worked = runQueuedTasks() || worked;
  if (stopRequested_) return;
  // After work, only look at the transfers without sleeping: the caller re-checks its predicate.
  waitAndAdvanceTransfers(worked ? std::optional(std::chrono::steady_clock::now()) : deadline);
}

bool RunLoop::runDueTimers() {
  bool ran = false;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      // The earliest due timer first; timers due at the same instant in creation order (the map
      // is ordered by id, and min_element keeps the first of equals).
      auto due = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
        return a.second.due < b.second.due;
      });
      if (due == timers_.end() || due->second.due > clock_.now()) return ran;
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
  // cannot starve timers and transfers. When a task throws, the ones after it go back to the front
  // of the queue, in order, before the exception goes on: nothing else queued is lost.
  for (auto task = batch.begin(); task != batch.end(); ++task) {
    try {
      (*task)();
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        tasks_.insert(tasks_.begin(), std::make_move_iterator(task + 1),
                      std::make_move_iterator(batch.end()));
      }
      wakeUp();
      throw;
    }
  }
  return !batch.empty();
}

std::optional<std::chrono::steady_clock::duration> RunLoop::nextWorkWait() const {
  const ClockTime now = clock_.now();
  std::optional<ClockTime> wakeAt;
  {
    std::lock_guard lock(mutex_);
    if (!tasks_.empty()) wakeAt = now;
    for (const auto& [id, timer] : timers_) {
      if (!wakeAt || timer.due < *wakeAt) wakeAt = timer.due;
    }
  }
  if (!wakeAt) return std::nullopt;
  return clock_.realWait(std::max(*wakeAt - now, Clock::Steady::duration::zero()));
}

void RunLoop::waitAndAdvanceTransfers(std::optional<RealTime> deadline) {
  const RealTime now = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration wait = kMaxWait;
  if (auto work = nextWorkWait()) wait = std::min(wait, *work);
  if (deadline) wait = std::min(wait, *deadline - now);
  auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(
      std::max(wait, std::chrono::steady_clock::duration::zero()));
  curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(waitMs.count()), nullptr);

  int running = 0;
  {
    const CLocaleForLibcurl english;
    curl_multi_perform(multi_.get(), &running);
  }
  finishTransfers();
}

void RunLoop::finishTransfers() {
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
  // Each one runs whatever another throws: a transfer taken off libcurl whose `done` never ran
  // would leave its connection waiting forever. The first exception goes on once all have run.
  std::exception_ptr first;
  for (auto& [done, result] : finished) {
    try {
      done(result);
    } catch (...) {
      if (first) {
        log("a finished transfer's handler also failed: " +
            describeException(std::current_exception()));
      } else {
        first = std::current_exception();
      }
    }
  }
  if (first) std::rethrow_exception(first);
}

void RunLoop::wakeUp() {
  curl_multi_wakeup(multi_.get());
  if (Driver* driver = driver_.load()) driver->dispatchAfter(std::chrono::milliseconds(0));
}

void RunLoop::setDriver(Driver* driver) {
  driver_ = driver;
  curlDue_.reset();
  // With a driver, libcurl names the sockets and the timeout it needs (its socket interface)
  // instead of being polled; without one, the callbacks go and run() polls it again.
  const auto check = [](CURLMcode code, const char* option) {
    if (code != CURLM_OK) {
      throw std::runtime_error(std::string("libcurl refused the option ") + option + ": " +
                               curl_multi_strerror(code));
    }
  };
  check(
      curl_multi_setopt(multi_.get(), CURLMOPT_SOCKETFUNCTION, driver ? &onDriverSocket : nullptr),
      "CURLMOPT_SOCKETFUNCTION");
  check(curl_multi_setopt(multi_.get(), CURLMOPT_SOCKETDATA, driver ? this : nullptr),
        "CURLMOPT_SOCKETDATA");
  check(curl_multi_setopt(multi_.get(), CURLMOPT_TIMERFUNCTION, driver ? &onDriverTimer : nullptr),
        "CURLMOPT_TIMERFUNCTION");
  check(curl_multi_setopt(multi_.get(), CURLMOPT_TIMERDATA, driver ? this : nullptr),
        "CURLMOPT_TIMERDATA");
  if (driver) scheduleDispatch();
}

// libcurl calls these two from inside its multi calls: an exception from the driver is kept, -1
// makes libcurl end the transfers concerned, and rethrowDriverException raises it again once
// libcurl has returned.
int RunLoop::onDriverSocket(CURL*, curl_socket_t socket, int what, void* loop, void*) {
  auto* self = static_cast<RunLoop*>(loop);
  return catchInto(self->driverException_, -1, [&] {
    Driver* driver = self->driver_.load();
    if (driver == nullptr) return 0;
    int events = 0;
    if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) events |= kSocketRead;
    if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) events |= kSocketWrite;
    driver->watchSocket(static_cast<int>(socket), events);
    return 0;
  });
}

int RunLoop::onDriverTimer(CURLM*, long timeoutMs, void* loop) {
  auto* self = static_cast<RunLoop*>(loop);
  return catchInto(self->driverException_, -1, [&] {
    if (timeoutMs < 0) {
      self->curlDue_.reset();
    } else {
      self->curlDue_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
    self->scheduleDispatch();
    return 0;
  });
}

void RunLoop::rethrowDriverException() {
  if (driverException_) std::rethrow_exception(std::exchange(driverException_, nullptr));
}

void RunLoop::socketReady(int socket, int events) {
  int mask = 0;
  if (events & kSocketRead) mask |= CURL_CSELECT_IN;
  if (events & kSocketWrite) mask |= CURL_CSELECT_OUT;
  int running = 0;
  {
    const CLocaleForLibcurl english;
    curl_multi_socket_action(multi_.get(), static_cast<curl_socket_t>(socket), mask, &running);
  }
  rescheduledAfter([this] {
    rethrowDriverException();
    finishTransfers();
  });
}

void RunLoop::dispatch() {
  rescheduledAfter([this] { dispatchDueWork(); });
}

void RunLoop::rescheduledAfter(const std::function<void()>& work) {
  // The driver is asked for the next call however the work ends, a throwing task included, so
  // that the timers and tasks left are still run.
  try {
    work();
  } catch (...) {
    scheduleDispatch();
    throw;
  }
  scheduleDispatch();
}

void RunLoop::dispatchDueWork() {
  runDueTimers();
  runQueuedTasks();
  if (curlDue_ && *curlDue_ <= std::chrono::steady_clock::now()) {
    curlDue_.reset();
    int running = 0;
    {
      const CLocaleForLibcurl english;
      curl_multi_socket_action(multi_.get(), CURL_SOCKET_TIMEOUT, 0, &running);
    }
    rethrowDriverException();
    finishTransfers();
  }
}

void RunLoop::scheduleDispatch() {
  Driver* driver = driver_.load();
  if (driver == nullptr) return;
  std::optional<std::chrono::steady_clock::duration> wait = nextWorkWait();
  if (curlDue_) {
    const auto curlWait = *curlDue_ - std::chrono::steady_clock::now();
    wait = wait ? std::min(*wait, curlWait) : curlWait;
  }
  if (!wait) {
    driver->dispatchAfter(std::nullopt);
    return;
  }
  driver->dispatchAfter(std::chrono::ceil<std::chrono::milliseconds>(
      std::max(*wait, std::chrono::steady_clock::duration::zero())));
}

}  // namespace marigold
