// What an interruption (Ctrl-C, SIGTERM, SIGHUP) does to the command-line host. The signals are
// blocked in every thread and taken by one watcher thread, which runs the clean-ups registered at
// that moment, newest first (a password prompt's terminal settings, a scratch folder, the demo's
// simulator), then ends the process: by the signal, as an interrupted program should, or, when the
// current stage has said so (a post whose whole body was sent), with a message and a status of its
// own. Made once, in main, before any other thread; not copyable.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace marigold::cli {

class Interrupts {
 public:
  Interrupts();
  ~Interrupts();
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // A registered clean-up; it is dropped when this goes away, so it never outlives what it uses.
  class Registration {
   public:
    Registration() = default;
    Registration(Registration&& other) noexcept;
    Registration& operator=(Registration&& other) noexcept;
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration();

   private:
    friend class Interrupts;
    Registration(Interrupts* owner, int id) : owner_(owner), id_(id) {}
    Interrupts* owner_ = nullptr;
    int id_ = 0;
  };

  // `cleanup` runs on the watcher thread if an interruption ends the process while the
  // registration lives; the other threads may still run meanwhile, until the process ends.
  [[nodiscard]] Registration onInterrupt(std::function<void()> cleanup);
  // `cleanup` runs once, whichever comes first: on the watcher thread if an interruption ends the
  // process while the registration lives, else when the registration goes. An interruption that
  // comes while it runs waits for it, so what it undoes (a scratch folder) is never left half done.
  [[nodiscard]] Registration onInterruptOrEnd(std::function<void()> cleanup);

  // From now on an interruption prints "marigold: MESSAGE" and exits with `status`; nothing
  // (the default) ends the process by the signal.
  struct Outcome {
    std::string message;
    int status;
  };
  void setOutcome(std::optional<Outcome> outcome);

 private:
  void watch();
  struct Cleanup {
    std::function<void()> work;
    bool atEnd = false;  // runs when dropped as well
  };
  Registration add(Cleanup cleanup);
  void drop(int id);

  std::mutex mutex_;
  std::map<int, Cleanup> cleanups_;
  int nextId_ = 1;
  std::optional<Outcome> outcome_;
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace marigold::cli
