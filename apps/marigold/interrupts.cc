#include "interrupts.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace marigold::cli {
namespace {

// SIGUSR1 only wakes the watcher when the program ends normally.
sigset_t watchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, signal);
  return set;
}

}  // namespace

Interrupts::Interrupts() {
  const sigset_t set = watchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  watcher_ = std::thread([this] { watch(); });
}

Interrupts::~Interrupts() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  pthread_kill(watcher_.native_handle(), SIGUSR1);
  watcher_.join();
}

Interrupts::Registration Interrupts::onInterrupt(std::function<void()> cleanup) {
  return add({std::move(cleanup), false});
}

Interrupts::Registration Interrupts::onInterruptOrEnd(std::function<void()> cleanup) {
  return add({std::move(cleanup), true});
}

Interrupts::Registration Interrupts::add(Cleanup cleanup) {
  std::lock_guard lock(mutex_);
  const int id = nextId_++;
  cleanups_.emplace(id, std::move(cleanup));
  return Registration(this, id);
}

void Interrupts::setOutcome(std::optional<Outcome> outcome) {
  std::lock_guard lock(mutex_);
  outcome_ = std::move(outcome);
}

void Interrupts::drop(int id) {
  std::lock_guard lock(mutex_);
  // Run with the lock held: the watcher, which holds it while it cleans up, waits until this is
  // done, and then finds it gone from the list.
  if (const auto it = cleanups_.find(id); it != cleanups_.end()) {
    if (it->second.atEnd) it->second.work();
    cleanups_.erase(it);
  }
}

void Interrupts::watch() {
  const sigset_t set = watchedSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    // The lock is kept to the end: nothing registered may go away while its clean-up runs.
    std::unique_lock lock(mutex_);
    if (signal == SIGUSR1) {
      if (stopping_) return;
      continue;
    }
    for (auto it = cleanups_.rbegin(); it != cleanups_.rend(); ++it) it->second.work();
    if (outcome_) {
      std::fprintf(stderr, "\nmarigold: %s\n", outcome_->message.c_str());
      std::fflush(stderr);
      _exit(outcome_->status);
    }
    std::fflush(stderr);
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);  // not reached: the signal ends the process
  }
}

Interrupts::Registration::Registration(Registration&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), id_(other.id_) {}

Interrupts::Registration& Interrupts::Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    if (owner_ != nullptr) owner_->drop(id_);
    owner_ = std::exchange(other.owner_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

Interrupts::Registration::~Registration() {
  if (owner_ != nullptr) owner_->drop(id_);
}

}  // namespace marigold::cli
