#include "platform/notification_center.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace marigold {
namespace {

TEST(NotificationCenterTest, DeliversByNameAndSender) {
  const int modelA = 0, modelB = 0;
  struct Case {
    std::string name;
    std::optional<std::string> observedName;
    const void* observedObject;
    std::string postedName;
    const void* postedObject;
    bool want;
  };
  const std::vector<Case> cases = {
      {"name and sender", "modelLoaded", &modelA, "modelLoaded", &modelA, true},
      {"other sender", "modelLoaded", &modelA, "modelLoaded", &modelB, false},
      {"any sender", "modelLoaded", nullptr, "modelLoaded", &modelB, true},
      {"other name", "modelLoaded", nullptr, "modelSaved", &modelA, false},
      {"every name", std::nullopt, &modelA, "modelSaved", &modelA, true},
      {"every name, other sender", std::nullopt, &modelA, "modelSaved", &modelB, false},
      {"post without sender", "modelLoaded", &modelA, "modelLoaded", nullptr, false},
  };
  for (const auto& c : cases) {
    NotificationCenter center;
    std::vector<Notification> got;
    Subscription s = center.addObserver(c.observedName, c.observedObject,
                                        [&](const Notification& n) { got.push_back(n); });
    center.postNotificationName(c.postedName, c.postedObject);
    ASSERT_EQ(got.size(), c.want ? 1u : 0u) << c.name;
    if (c.want) {
      EXPECT_EQ(got[0].name, c.postedName) << c.name;
      EXPECT_EQ(got[0].object, c.postedObject) << c.name;
    }
  }
}

TEST(NotificationCenterTest, OrderCancellationAndReentry) {
  NotificationCenter center;
  std::vector<std::string> calls;
  Subscription second;
  Subscription late;
  Subscription first = center.addObserver("n", nullptr, [&](const Notification&) {
    calls.push_back("first");
    second.cancel();  // cancelled before its turn: not called
    if (!late.active()) {
      late =
          center.addObserver("n", nullptr, [&](const Notification&) { calls.push_back("late"); });
      center.postNotificationName("other", nullptr);  // posting from an observer
    }
  });
  second =
      center.addObserver("n", nullptr, [&](const Notification&) { calls.push_back("second"); });
  Subscription third =
      center.addObserver("n", nullptr, [&](const Notification&) { calls.push_back("third"); });
  center.postNotificationName("n", nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"}));
  calls.clear();
  third = Subscription();
  center.postNotificationName("n", nullptr);
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "late"}));
}

}  // namespace
}  // namespace marigold
