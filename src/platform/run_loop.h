// A run loop: runs posted tasks, one-shot timers and the libcurl transfers of the asynchronous
// connections scheduled on it, all on the thread that calls run(). Each thread has its own current
// loop (RunLoop::current()); tests may also make their own. post() and stop() may be called from
// any thread; everything else belongs to the running thread. Runs nest: stop() ends the innermost
// run. A loop must outlive the connections and timers scheduled on it. Not copyable.
//
// A task or timer that throws ends the run (or dispatch()) with its exception; the tasks queued
// after it stay queued in order, the timers stay set, and the loop can be run again. Every transfer
// that finished has its `done` run, whatever another one throws; the first exception then ends the
// run (any later ones are logged).
//
// Timers run on the loop's Clock (the real one unless a test hands in its own); the bound of
// runUntil and libcurl's own timers are real time.
//
// Another event loop (a GUI toolkit's) can drive a RunLoop on the same thread instead of run(),
// without polling: install a Driver, watch the sockets it names and call socketReady() when one is
// ready and dispatch() at the time it asks for.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "base/clock.h"
#include "platform/curl_handles.h"

namespace marigold {

class RunLoop {
 public:
  using TimerId = std::uint64_t;

  // What a socket is watched for, as a bit set.
  static constexpr int kSocketRead = 1;
  static constexpr int kSocketWrite = 2;

  // The event loop that drives this one. Its calls come from inside the RunLoop's own calls.
  class Driver {
   public:
    virtual ~Driver() = default;
    // Watch `socket` for `events` (kSocketRead, kSocketWrite or both) and report them with
    // socketReady(); 0 stops watching it.
    virtual void watchSocket(int socket, int events) = 0;
    // Call dispatch() once `delay` has passed, replacing the previous request; absent: nothing is
    // due, no call is needed. Thread-safe: post(), addTimer() and stop() call it from any thread.
    virtual void dispatchAfter(std::optional<std::chrono::milliseconds> delay) = 0;
  };

  // `clock` (not owned) must outlive the loop.
  explicit RunLoop(const Clock& clock = Clock::real());
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The calling thread's loop: the innermost one made current with a CurrentScope, else one
  // created on first use and kept until the thread ends.
  static RunLoop& current();

  // Makes `loop` the calling thread's current loop while the scope lives, then puts back the one
  // before. A host makes its main loop current, so that what the plug-in starts "on the current
  // loop" runs where the host runs it. Not copyable.
  class CurrentScope {
   public:
    explicit CurrentScope(RunLoop& loop);
    ~CurrentScope();
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

   private:
    RunLoop* previous_;
  };

  // Queues a task to run on the loop's thread, in posting order. Thread-safe; wakes a waiting loop.
  void post(std::function<void()> task);

  const Clock& clock() const { return clock_; }

  // Runs `task` once, `seconds` from now on the loop's clock (at the earliest). Thread-safe.
  TimerId addTimer(double seconds, std::function<void()> task);
  // Forgets a timer that has not fired; no effect otherwise.
  void cancelTimer(TimerId timer);

  // Runs until stop() is called.
  void run();
  // Runs until `predicate` holds (checked after each round of work), stop() is called or `seconds`
  // of real time pass (no limit when absent). Returns the predicate's last answer.
  bool runUntil(const std::function<bool()>& predicate, std::optional<double> seconds);
  // Ends the innermost run() or runUntil() in progress; no effect when none is. Thread-safe.
  void stop();

  // Hands the loop to `driver` (not owned; nullptr takes it back). While a driver is installed,
  // run() and runUntil() must not be used. Install or remove it while no transfer runs and no
  // other thread posts to the loop.
  void setDriver(Driver* driver);
  // The driver's calls: `socket` is ready for `events`; the time asked for by dispatchAfter came.
  // Each advances the transfers, runs what is due and asks the driver for the next call.
  void socketReady(int socket, int events);
  void dispatch();

  // For the connections: drives a libcurl easy transfer until it ends; then it is removed and
  // `done` runs on this loop with libcurl's result, outside any libcurl call.
  void addTransfer(CURL* easy, std::function<void(CURLcode)> done);
  // Stops driving a transfer; its `done` will not run. No effect for an unknown handle.
  void removeTransfer(CURL* easy);

 private:
  using RealTime = std::chrono::steady_clock::time_point;
  using ClockTime = Clock::Steady::time_point;  // on clock_
  struct Timer {
    ClockTime due;
    std::function<void()> task;
  };

  // One round: due timers, queued tasks, then waits for transfers, posts or the next timer (at most
  // until `deadline`) and advances the transfers.
  void runOnce(std::optional<RealTime> deadline);
  bool runDueTimers();
  bool runQueuedTasks();
  void waitAndAdvanceTransfers(std::optional<RealTime> deadline);
  // The real time to sleep before the next timer or queued task is due; absent when none is.
  std::optional<std::chrono::steady_clock::duration> nextWorkWait() const;
  // Removes the transfers libcurl reports finished and runs their `done`.
  void finishTransfers();
  void wakeUp();  // a waiting loop, or the driver, looks at the loop again
  void scheduleDispatch();
  // Runs `work`, then scheduleDispatch(), also when `work` throws.
  void rescheduledAfter(const std::function<void()>& work);
  // What dispatch() does before it asks the driver for the next call.
  void dispatchDueWork();
  static int onDriverSocket(CURL* easy, curl_socket_t socket, int what, void* loop, void*);
  static int onDriverTimer(CURLM* multi, long timeoutMs, void* loop);
  void rethrowDriverException();

  const Clock& clock_;
  CurlMulti multi_;
  std::map<CURL*, std::function<void(CURLcode)>> transfers_;

  mutable std::mutex mutex_;  // guards tasks_, timers_, nextTimer_
  std::vector<std::function<void()>> tasks_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;

  std::atomic<Driver*> driver_{nullptr};
  std::optional<RealTime> curlDue_;     // when libcurl wants a timeout call (driver only)
  std::exception_ptr driverException_;  // thrown by the driver inside a libcurl call

  std::atomic<int> depth_{0};
  std::atomic<bool> stopRequested_{false};
};

}  // namespace marigold
