#include "platform/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/application.h"

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

}  // namespace
}  // namespace marigold
