#include "platform/views.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/progress_indicator.h"

namespace marigold {
namespace {

// Counts the notifications of one view.
struct Counter {
  int count = 0;
  Subscription subscription;
  explicit Counter(Observable& observable)
      : subscription(observable.onChange([this] { ++count; })) {}
};

TEST(ViewsTest, ObserversHearRealChangesOnly) {
  struct Case {
    std::string name;
    std::function<void(TextField&, Button&, CheckBox&, ProgressIndicator&)> act;
    int wantText, wantButton, wantCheck, wantBar;
  };
  const std::vector<Case> cases = {
      {"text set", [](auto& t, auto&, auto&, auto&) { t.setStringValue("a"); }, 1, 0, 0, 0},
      {"text set twice alike",
       [](auto& t, auto&, auto&, auto&) {
         t.setStringValue("a");
         t.setStringValue("a");
       },
       1, 0, 0, 0},
      {"text set to its value", [](auto& t, auto&, auto&, auto&) { t.setStringValue(""); }, 0, 0, 0,
       0},
      {"hide, enable unchanged",
       [](auto& t, auto&, auto&, auto&) {
         t.setHidden(true);
         t.setEnabled(true);
       },
       1, 0, 0, 0},
      {"button title and disable",
       [](auto&, auto& b, auto&, auto&) {
         b.setTitle("Log Out");
         b.setEnabled(false);
       },
       0, 2, 0, 0},
      {"click runs no notification", [](auto&, auto& b, auto&, auto&) { b.performClick(); }, 0, 0,
       0, 0},
      {"check box click toggles", [](auto&, auto&, auto& c, auto&) { c.performClick(); }, 0, 0, 1,
       0},
      {"bar start twice, value",
       [](auto&, auto&, auto&, auto& p) {
         p.startAnimation();
         p.startAnimation();
         p.setDoubleValue(25);
       },
       0, 0, 0, 2},
  };
  for (const auto& c : cases) {
    TextField text;
    Button button;
    CheckBox check;
    ProgressIndicator bar;
    Counter t(text), b(button), k(check), p(bar);
    c.act(text, button, check, bar);
    EXPECT_EQ(t.count, c.wantText) << c.name;
    EXPECT_EQ(b.count, c.wantButton) << c.name;
    EXPECT_EQ(k.count, c.wantCheck) << c.name;
    EXPECT_EQ(p.count, c.wantBar) << c.name;
  }
}

TEST(ViewsTest, SubscriptionEndsWithItsHandle) {
  TextField field;
  int first = 0, second = 0;
  Subscription keep = field.onChange([&] { ++first; });
  {
    Subscription scoped = field.onChange([&] { ++second; });
    field.setStringValue("x");
  }
  field.setStringValue("y");
  keep.cancel();
  field.setStringValue("z");
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 1);
}

TEST(ViewsTest, ObserverCancelledByAnEarlierObserverIsNotCalled) {
  TextField field;
  Subscription later;
  int laterCalls = 0;
  Subscription earlier = field.onChange([&] { later.cancel(); });
  later = field.onChange([&] { ++laterCalls; });
  field.setStringValue("x");
  EXPECT_EQ(laterCalls, 0);
}

TEST(ViewsTest, ObserverMayChangeTheViewAgain) {
  TextField field;
  std::vector<std::string> seen;
  Subscription s = field.onChange([&] {
    seen.push_back(field.stringValue());
    if (field.stringValue() == "a") field.setStringValue("b");
  });
  field.setStringValue("a");
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST(PopUpButtonTest, ItemsAndSelection) {
  using Op = std::function<void(PopUpButton&)>;
  struct Case {
    std::string name;
    std::vector<Op> ops;
    std::vector<std::string> wantItems;
    std::optional<std::size_t> wantIndex;
  };
  auto add = [](std::string t) { return Op([t](PopUpButton& p) { p.addItemWithTitle(t); }); };
  auto select = [](std::optional<std::size_t> i) {
    return Op([i](PopUpButton& p) { p.selectItemAtIndex(i); });
  };
  auto selectTitle = [](std::string t) {
    return Op([t](PopUpButton& p) { p.selectItemWithTitle(t); });
  };
  Op clear = [](PopUpButton& p) { p.removeAllItems(); };
  const std::vector<Case> cases = {
      {"empty", {}, {}, std::nullopt},
      {"first item is selected", {add("a"), add("b")}, {"a", "b"}, 0},
      {"select second", {add("a"), add("b"), select(1)}, {"a", "b"}, 1},
      {"out of range clears", {add("a"), select(5)}, {"a"}, std::nullopt},
      {"title", {add("a"), add("b"), selectTitle("b")}, {"a", "b"}, 1},
      {"unknown title clears", {add("a"), selectTitle("z")}, {"a"}, std::nullopt},
      {"repeated title moves to end, selection follows",
       {add("a"), add("b"), add("a")},
       {"b", "a"},
       1},
      {"remove all", {add("a"), add("b"), clear}, {}, std::nullopt},
      {"refill after clear selects first", {add("a"), clear, add("c"), add("d")}, {"c", "d"}, 0},
  };
  for (const auto& c : cases) {
    PopUpButton menu;
    for (const auto& op : c.ops) op(menu);
    EXPECT_EQ(menu.itemTitles(), c.wantItems) << c.name;
    EXPECT_EQ(menu.indexOfSelectedItem(), c.wantIndex) << c.name;
    if (c.wantIndex) {
      EXPECT_EQ(menu.titleOfSelectedItem(), c.wantItems[*c.wantIndex]) << c.name;
    } else {
      EXPECT_EQ(menu.titleOfSelectedItem(), std::nullopt) << c.name;
    }
  }
}

TEST(ButtonTest, ClicksRunTheActionOnlyWhenUsable) {
  struct Case {
    bool enabled, hidden, want;
  };
  constexpr Case kCases[] = {{true, false, true}, {false, false, false}, {true, true, false}};
  for (const auto& c : kCases) {
    CheckBox box;
    int actions = 0;
    box.setAction([&] { ++actions; });
    box.setEnabled(c.enabled);
    box.setHidden(c.hidden);
    EXPECT_EQ(box.performClick(), c.want);
    EXPECT_EQ(actions, c.want ? 1 : 0);
    EXPECT_EQ(box.state(), c.want ? ControlState::kOn : ControlState::kOff);
  }
}

TEST(ViewTreeTest, RemovingTheLastReferenceFromTheSuperviewIsSafe) {
  Box box;
  auto bar = std::make_shared<ProgressIndicator>();
  std::weak_ptr<ProgressIndicator> watch = bar;
  box.addSubview(std::move(bar));
  Counter boxChanges(box);
  ASSERT_EQ(box.subviews().size(), 1u);
  EXPECT_EQ(box.subviews().front()->superview(), &box);
  box.subviews().front()->removeFromSuperview();
  EXPECT_TRUE(box.subviews().empty());
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(boxChanges.count, 1);
}

TEST(ViewTreeTest, MovingAViewAndRejectingCycles) {
  auto outer = std::make_shared<Box>();
  auto inner = std::make_shared<Box>();
  auto other = std::make_shared<Box>();
  auto field = std::make_shared<TextField>();
  outer->addSubview(inner);
  inner->addSubview(field);
  other->addSubview(field);
  EXPECT_TRUE(inner->subviews().empty());
  EXPECT_EQ(field->superview(), other.get());
  EXPECT_THROW(inner->addSubview(outer), std::logic_error);
  EXPECT_THROW(inner->addSubview(inner), std::logic_error);
  EXPECT_THROW(inner->addSubview(nullptr), std::logic_error);
  // A superview that goes away leaves its subviews without one.
  other.reset();
  EXPECT_EQ(field->superview(), nullptr);
}

TEST(ViewTreeTest, KeyEquivalentsReachButtonsInsideBoxes) {
  struct Case {
    std::string name;
    std::string key;
    bool buttonEnabled, boxHidden, want;
  };
  const std::vector<Case> cases = {
      {"match", "\r", true, false, true},      {"other key", "x", true, false, false},
      {"empty key", "", true, false, false},   {"disabled button", "\r", false, false, false},
      {"hidden box", "\r", true, true, false},
  };
  for (const auto& c : cases) {
    Box pane;
    auto inner = std::make_shared<Box>();
    auto button = std::make_shared<Button>();
    int clicks = 0;
    button->setKeyEquivalent("\r");
    button->setAction([&] { ++clicks; });
    button->setEnabled(c.buttonEnabled);
    inner->addSubview(button);
    pane.addSubview(std::make_shared<TextField>());
    pane.addSubview(inner);
    pane.setHidden(c.boxHidden);
    EXPECT_EQ(pane.performKeyEquivalent(KeyEvent{c.key}), c.want) << c.name;
    EXPECT_EQ(clicks, c.want ? 1 : 0) << c.name;
  }
}

TEST(ProgressIndicatorTest, ValueIsPinnedToItsRange) {
  struct Case {
    double in, want;
  };
  constexpr Case kCases[] = {
      {25, 25}, {-1, 0}, {100.5, 100}, {1e300, 100}, {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& c : kCases) {
    ProgressIndicator bar;
    bar.setDoubleValue(50);
    bar.setDoubleValue(c.in);
    EXPECT_EQ(bar.doubleValue(), c.want) << c.in;
  }
  ProgressIndicator fresh;
  EXPECT_TRUE(fresh.isIndeterminate());
  EXPECT_FALSE(fresh.isAnimating());
}

}  // namespace
}  // namespace marigold
