#include "platform/run_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/url_connection.h"
#include "testing/loopback_socket.h"
#include "testing/test_server.h"

namespace marigold {
namespace {

TEST(RunLoopTest, TasksFromManyThreadsKeepEachThreadsOrder) {
  RunLoop loop;
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::vector<int>> seen(kThreads);
  int finishedThreads = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) loop.post([&, t, i] { seen[t].push_back(i); });
      loop.post([&] { ++finishedThreads; });
    });
  }
  EXPECT_TRUE(loop.runUntil([&] { return finishedThreads == kThreads; }, 30.0));
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(seen[t][i], i);
  }
}

TEST(RunLoopTest, StopFromAnotherThreadEndsRun) {
  RunLoop loop;
  std::atomic<bool> running{false};
  loop.post([&] { running = true; });
  std::thread stopper([&] {
    for (int i = 0; i < 30000 && !running; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    loop.stop();  // the loop sleeps in its wait: stop() must wake it
  });
  loop.run();
  stopper.join();
  EXPECT_TRUE(running);
}

TEST(RunLoopTest, TimersFireInDueOrderAndCancelledOnesNever) {
  RunLoop loop;
  std::vector<std::string> fired;
  loop.addTimer(0.06, [&] { fired.push_back("third"); });
  auto cancelled = loop.addTimer(0.02, [&] { fired.push_back("cancelled"); });
  loop.addTimer(0.0, [&] { fired.push_back("first"); });
  loop.addTimer(0.03, [&] { fired.push_back("second"); });
  loop.cancelTimer(cancelled);
  EXPECT_TRUE(loop.runUntil([&] { return fired.size() == 3; }, 30.0));
  EXPECT_EQ(fired, (std::vector<std::string>{"first", "second", "third"}));
}

TEST(RunLoopTest, TimersDueTogetherAfterAStallFireInDueOrder) {
  RunLoop loop;
  std::vector<int> fired;
  for (int ms : {60, 0, 30}) loop.addTimer(ms / 1000.0, [&fired, ms] { fired.push_back(ms); });
  // The thread is busy past every due time, so all three are due when the loop next looks.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(loop.runUntil([&] { return fired.size() == 3; }, 30.0));
  EXPECT_EQ(fired, (std::vector<int>{0, 30, 60}));
}

TEST(RunLoopTest, StopEndsOnlyTheInnermostRun) {
  RunLoop loop;
  std::vector<std::string> trace;
  loop.post([&] {
    trace.push_back("outer task");
    loop.post([&] { loop.stop(); });
    loop.run();  // nested: ended by the stop above
    trace.push_back("inner ended");
    loop.post([&] { loop.stop(); });
  });
  loop.run();
  trace.push_back("outer ended");
  EXPECT_EQ(trace, (std::vector<std::string>{"outer task", "inner ended", "outer ended"}));
}

TEST(RunLoopTest, RunUntilGivesUpAfterItsTimeLimit) {
  RunLoop loop;
  EXPECT_FALSE(loop.runUntil([] { return false; }, 0.05));
  EXPECT_TRUE(loop.runUntil([] { return true; }, 0.0));
  loop.stop();  // no run in progress: no effect on the next run
  bool ran = false;
  loop.post([&] { ran = true; });
  EXPECT_TRUE(loop.runUntil([&] { return ran; }, 30.0));
}

TEST(ApplicationTest, StopModalEndsTheInnermostModalRun) {
  RunLoop loop;
  Application application;
  std::vector<std::string> trace;
  application.stopModal();  // none in progress
  loop.post([&] {
    trace.push_back("outer modal");
    loop.post([&] {
      trace.push_back("inner modal");
      application.stopModal();
    });
    application.runModalForRunLoop(loop);
    trace.push_back("inner ended");
    EXPECT_TRUE(application.isRunningModal());
    application.stopModal();
  });
  application.runModalForRunLoop(loop);
  trace.push_back("outer ended");
  EXPECT_FALSE(application.isRunningModal());
  EXPECT_EQ(trace,
            (std::vector<std::string>{"outer modal", "inner modal", "inner ended", "outer ended"}));
}

// A foreign event loop built on poll(), as a GUI toolkit would drive the run loop: it watches the
// sockets the loop names and sleeps until the time it asks for, never spinning.
class PollDriver : public RunLoop::Driver {
 public:
  explicit PollDriver(RunLoop& loop) : loop_(loop) { loop_.setDriver(this); }
  ~PollDriver() override { loop_.setDriver(nullptr); }

  void watchSocket(int socket, int events) override {
    if (events == 0) {
      sockets_.erase(socket);
    } else {
      sockets_[socket] = events;
    }
  }
  void dispatchAfter(std::optional<std::chrono::milliseconds> delay) override {
    std::lock_guard lock(mutex_);
    due_ = delay ? std::optional(std::chrono::steady_clock::now() + *delay) : std::nullopt;
  }

  // Runs until `done` holds or `rounds` waits have passed; answers `done`.
  bool runUntil(const std::function<bool()>& done, int rounds) {
    for (int round = 0; round < rounds && !done(); ++round) {
      std::vector<pollfd> fds;
      for (auto [socket, events] : sockets_) {
        fds.push_back({socket,
                       static_cast<short>(((events & RunLoop::kSocketRead) ? POLLIN : 0) |
                                          ((events & RunLoop::kSocketWrite) ? POLLOUT : 0)),
                       0});
      }
      int timeout = 100;  // a wake-up from another thread lands in due_, seen at the latest then
      {
        std::lock_guard lock(mutex_);
        if (due_) {
          auto left = std::chrono::ceil<std::chrono::milliseconds>(
              *due_ - std::chrono::steady_clock::now());
          timeout = std::clamp(static_cast<int>(left.count()), 0, timeout);
        }
      }
      ::poll(fds.data(), fds.size(), timeout);
      for (const pollfd& fd : fds) {
        int events = ((fd.revents & (POLLIN | POLLHUP | POLLERR)) ? RunLoop::kSocketRead : 0) |
                     ((fd.revents & POLLOUT) ? RunLoop::kSocketWrite : 0);
        if (events != 0) loop_.socketReady(fd.fd, events);
      }
      bool due = false;
      {
        std::lock_guard lock(mutex_);
        due = due_ && *due_ <= std::chrono::steady_clock::now();
        if (due) due_.reset();
      }
      if (due) loop_.dispatch();
    }
    return done();
  }

 private:
  RunLoop& loop_;
  std::map<int, int> sockets_;
  std::mutex mutex_;
  std::optional<std::chrono::steady_clock::time_point> due_;
};

class CollectingDelegate : public URLConnectionDelegate {
 public:
  void didReceiveData(URLConnection&, ByteView data) override {
    body.append(reinterpret_cast<const char*>(data.data()), data.size());
  }
  void didFinishLoading(URLConnection&) override { finished = true; }
  void didFailWithError(URLConnection&, const Error& error) override {
    failure = error.description;
  }
  std::string body;
  bool finished = false;
  std::string failure;
};

TEST(RunLoopTest, AThrowingTaskOrTimerLosesNothingElse) {
  TestServer server;
  server.any("/reply", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("reply", "text/plain");
  });
  {
    // Run by itself: the connection's own task was queued behind the throwing one.
    RunLoop loop;
    CollectingDelegate delegate;
    bool later = false;
    loop.post([] { throw std::runtime_error("a task failed"); });
    URLConnection connection(URLRequest(*URL::withString(server.url("/reply"))), delegate);
    connection.scheduleInRunLoop(loop);
    connection.start();
    loop.post([&] { later = true; });
    EXPECT_THROW(loop.runUntil([&] { return delegate.finished; }, 30.0), std::runtime_error);
    loop.stop();  // no run in progress: nothing to end, now or later
    EXPECT_TRUE(loop.runUntil([&] { return delegate.finished && later; }, 30.0))
        << delegate.failure;
  }
  {
    // Driven by another event loop: the driver is still asked to come back for the next timer.
    RunLoop loop;
    PollDriver driver(loop);
    bool later = false;
    loop.addTimer(0.0, [] { throw std::runtime_error("a timer failed"); });
    loop.addTimer(0.05, [&] { later = true; });
    EXPECT_THROW(driver.runUntil([&] { return later; }, 50), std::runtime_error);
    EXPECT_TRUE(driver.runUntil([&] { return later; }, 50));
  }
}

// Answers two requests on 127.0.0.1 together: it reads both, then, when told to, writes both
// replies and closes, so that the two transfers finish in the same round of the loop.
class AnswersTogether {
 public:
  AnswersTogether() : listener_(listenOnLoopback("AnswersTogether")) {
    thread_ = std::thread([this] { serve(); });
  }
  ~AnswersTogether() {
    answer();
    thread_.join();
    ::close(listener_.socket);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(listener_.port) + "/"; }
  bool bothRead() const { return requestsRead_ == 2; }
  void answer() { answerNow_ = true; }
  bool answered() const { return answered_; }

 private:
  void serve() {
    std::vector<int> clients;
    while (clients.size() < 2 && !answerNow_) {
      pollfd ready{listener_.socket, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      const int client = ::accept(listener_.socket, nullptr, nullptr);
      if (client < 0) continue;
      clients.push_back(client);
      std::string request;
      char buffer[1024];
      for (int reads = 0; reads < 100 && request.find("\r\n\r\n") == std::string::npos; ++reads) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      ++requestsRead_;
    }
    for (int waits = 0; waits < 3000 && !answerNow_; ++waits) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    constexpr std::string_view kReply =
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    for (int client : clients) {
      (void)::send(client, kReply.data(), kReply.size(), MSG_NOSIGNAL);
      ::close(client);
    }
    answered_ = true;
  }

  LoopbackListener listener_;
  std::atomic<int> requestsRead_{0};
  std::atomic<bool> answerNow_{false};
  std::atomic<bool> answered_{false};
  std::thread thread_;
};

TEST(RunLoopTest, EveryFinishedTransferIsHandledWhateverAnotherThrows) {
  AnswersTogether server;
  const auto discard = +[](char*, size_t size, size_t count, void*) { return size * count; };
  std::vector<CurlEasy> transfers;  // outlive the loop, which lets go of them
  std::vector<std::string> handled;
  RunLoop loop;
  for (const std::string name : {"first", "second"}) {
    CurlEasy& easy = transfers.emplace_back(makeCurlEasy());
    curl_easy_setopt(easy.get(), CURLOPT_URL, server.url().c_str());
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, discard);
    // Both handlers throw: whichever libcurl reports first, the other must still run.
    loop.addTransfer(easy.get(), [&handled, name](CURLcode result) {
      handled.push_back(name + (result == CURLE_OK ? " ok" : " failed"));
      throw std::runtime_error(name + "'s handler failed");
    });
  }
  ASSERT_TRUE(loop.runUntil([&] { return server.bothRead(); }, 30.0));
  server.answer();
  for (int waits = 0; waits < 3000 && !server.answered(); ++waits) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THROW(loop.runUntil([&] { return handled.size() == 2; }, 30.0), std::runtime_error);
  std::sort(handled.begin(), handled.end());
  EXPECT_EQ(handled, (std::vector<std::string>{"first ok", "second ok"}));
}

TEST(RunLoopTest, ForeignEventLoopDrivesTransfersTasksAndTimers) {
  TestServer server;
  const std::string reply(200 * 1024, 'r');  // several reads
  server.any("/photo", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(reply, "application/octet-stream");
  });
  RunLoop loop;
  PollDriver driver(loop);
  std::vector<std::string> trace;
  loop.addTimer(0.05, [&] { trace.push_back("timer"); });
  std::thread poster([&] { loop.post([&] { trace.push_back("task"); }); });
  poster.join();
  CollectingDelegate delegate;
  URLConnection connection(URLRequest(*URL::withString(server.url("/photo"))), delegate);
  connection.scheduleInRunLoop(loop);
  connection.start();

  ASSERT_TRUE(driver.runUntil([&] { return delegate.finished && trace.size() == 2; }, 400))
      << delegate.failure;
  EXPECT_EQ(delegate.body, reply);
  EXPECT_EQ(trace, (std::vector<std::string>{"task", "timer"}));
}

}  // namespace
}  // namespace marigold
