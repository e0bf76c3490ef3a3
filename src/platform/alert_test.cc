#include "platform/alert.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "base/log.h"
#include "platform/progress_indicator.h"
#include "platform/window.h"

namespace marigold {

namespace {

std::shared_ptr<Alert> threeButtons() {
  auto alert = Alert::create();
  alert->setMessageText("Save?");
  alert->addButtonWithTitle("Save");
  alert->addButtonWithTitle("Cancel");
  alert->addButtonWithTitle("Discard");
  return alert;
}

TEST(AlertSheetTest, EndHandlerGetsThePressedButton) {
  for (std::size_t index = 0; index < 3; ++index) {
    Window window("Export");
    auto alert = threeButtons();
    std::vector<ModalResponse> responses;
    bool shownDuringHandler = true;
    alert->beginSheetModalForWindow(window, [&](ModalResponse response) {
      responses.push_back(response);
      shownDuringHandler = !window.sheets().empty();
    });
    ASSERT_EQ(window.sheets().size(), 1u);
    EXPECT_EQ(window.sheets().front(), alert);
    EXPECT_EQ(alert->sheetWindow(), &window);
    EXPECT_TRUE(alert->pressButton(index));
    EXPECT_EQ(responses, std::vector<ModalResponse>{kAlertFirstButtonReturn + long(index)});
    EXPECT_FALSE(shownDuringHandler);
    EXPECT_EQ(alert->sheetWindow(), nullptr);
    // Once ended, further presses do nothing.
    EXPECT_FALSE(alert->pressButton(index));
    EXPECT_EQ(responses.size(), 1u);
  }
}

TEST(AlertSheetTest, PressesThatMustNotEndTheSheet) {
  struct Case {
    std::string name;
    bool disableFirst;
    std::size_t index;
  };
  const std::vector<Case> cases = {{"disabled button", true, 0}, {"no such button", false, 3}};
  for (const auto& c : cases) {
    Window window;
    auto alert = threeButtons();
    int calls = 0;
    alert->beginSheetModalForWindow(window, [&](ModalResponse) { ++calls; });
    if (c.disableFirst) alert->buttons()[0]->setEnabled(false);
    EXPECT_FALSE(alert->pressButton(c.index)) << c.name;
    if (c.disableFirst) {
      EXPECT_FALSE(alert->buttons()[0]->performClick()) << c.name;
    }
    EXPECT_EQ(calls, 0) << c.name;
    EXPECT_EQ(window.sheets().size(), 1u) << c.name;
  }
}

TEST(AlertSheetTest, ClickingAButtonEndsTheSheetLikePressing) {
  Window window;
  auto alert = threeButtons();
  ModalResponse got = 0;
  alert->beginSheetModalForWindow(window, [&](ModalResponse r) { got = r; });
  EXPECT_TRUE(alert->buttons()[1]->performClick());
  EXPECT_EQ(got, kAlertFirstButtonReturn + 1);
  EXPECT_TRUE(window.sheets().empty());
}

TEST(AlertSheetTest, WithoutButtonsOrHandlerItGetsOkAndStillEnds) {
  Window window;
  auto alert = Alert::create();
  alert->setAlertStyle(AlertStyle::kInformational);
  alert->setMessageText("There was a problem logging in.");
  alert->beginSheetModalForWindow(window);
  ASSERT_EQ(alert->buttons().size(), 1u);
  EXPECT_EQ(alert->buttons()[0]->title(), "OK");
  EXPECT_THROW(alert->beginSheetModalForWindow(window), std::logic_error);
  EXPECT_TRUE(alert->pressButton(0));
  EXPECT_TRUE(window.sheets().empty());
}

TEST(AlertSheetTest, HandlerMayCloseTheWindowAndShowAnotherSheet) {
  Window window;
  auto first = Alert::create();
  auto second = Alert::create();
  first->beginSheetModalForWindow(window, [&](ModalResponse) {
    second->beginSheetModalForWindow(window);
    window.close();
  });
  first.reset();  // only the window holds the sheet now
  ASSERT_EQ(window.sheets().size(), 1u);
  EXPECT_TRUE(window.sheets().front()->pressButton(0));
  EXPECT_TRUE(window.isClosed());
  ASSERT_EQ(window.sheets().size(), 1u);
  EXPECT_EQ(window.sheets().front(), second);
}

TEST(AlertSheetTest, WindowGoingAwayLeavesTheSheetInert) {
  auto alert = threeButtons();
  int calls = 0;
  {
    Window window;
    alert->beginSheetModalForWindow(window, [&](ModalResponse) { ++calls; });
  }
  EXPECT_EQ(alert->sheetWindow(), nullptr);
  EXPECT_FALSE(alert->pressButton(0));
  EXPECT_EQ(calls, 0);
}

TEST(AlertAccessoryTest, ProgressBarThenCompletionImage) {
  Window window;
  auto alert = Alert::create();
  auto bar = std::make_shared<ProgressIndicator>(Rect{0, 0, 400, 20});
  auto done = std::make_shared<ImageView>();
  int changes = 0;
  Subscription watch = alert->onChange([&] { ++changes; });

  alert->setAccessoryView(bar);
  EXPECT_EQ(alert->accessoryView(), bar);
  changes = 0;
  bar->setDoubleValue(25);  // the alert relays its accessory's changes
  EXPECT_EQ(changes, 1);

  bar->removeFromSuperview();
  EXPECT_EQ(alert->accessoryView(), nullptr);
  changes = 0;
  bar->setDoubleValue(50);  // no longer the alert's business
  EXPECT_EQ(changes, 0);

  alert->setAccessoryView(done);
  EXPECT_EQ(alert->accessoryView(), done);
  alert->setAccessoryView(bar);
  EXPECT_EQ(alert->accessoryView(), bar);
  EXPECT_EQ(done->superview(), nullptr);
  alert->setAccessoryView(nullptr);
  EXPECT_EQ(alert->accessoryView(), nullptr);
}

// Answers a scripted button and records what it was shown.
class ScriptedPresenter : public AlertPresenter {
 public:
  explicit ScriptedPresenter(std::size_t answer) : answer_(answer) {}
  std::size_t presentModal(const Alert& alert) override {
    shown.push_back(alert.messageText());
    return answer_;
  }
  std::vector<std::string> shown;

 private:
  std::size_t answer_;
};

TEST(AlertModalTest, PresenterAnswers) {
  struct Case {
    std::size_t answer;
    ModalResponse want;
  };
  constexpr Case kCases[] = {{0, 1000}, {2, 1002}, {3, 1000}, {99, 1000}};
  for (const auto& c : kCases) {
    Application app;
    ScriptedPresenter presenter(c.answer);
    app.setAlertPresenter(&presenter);
    auto alert = threeButtons();
    EXPECT_EQ(alert->runModal(app), c.want) << c.answer;
    EXPECT_EQ(presenter.shown, std::vector<std::string>{"Save?"});
  }
}

TEST(AlertModalTest, WithoutPresenterTheAlertIsLoggedAndTheFirstButtonAnswers) {
  Application app;
  LogCapture capture;
  auto underlying = std::make_shared<const Error>("curl", 7, "Couldn't connect to server");
  auto alert = Alert::alertWithError(
      Error("NSURLErrorDomain", -1004, "Could not connect to the server.", underlying));
  EXPECT_EQ(alert->messageText(), "Could not connect to the server.");
  EXPECT_EQ(alert->alertStyle(), AlertStyle::kWarning);
  ASSERT_EQ(alert->buttons().size(), 1u);
  EXPECT_EQ(alert->buttons()[0]->title(), "OK");
  EXPECT_EQ(alert->runModal(app), kAlertFirstButtonReturn);
  EXPECT_TRUE(capture.contains("Could not connect to the server."));
  EXPECT_TRUE(capture.contains("Couldn't connect to server"));
}

}  // namespace
}  // namespace marigold
