// For the controller's tests: the controller harness as a GoogleTest fixture. The harness is torn
// down before the next test starts, so each test gets a fresh HOME, simulator and controller.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testing/controller_harness.h"

namespace marigold {

class ControllerFixture : public ::testing::Test, protected ControllerHarness {
 protected:
  void TearDown() override {
    controller_.reset();
    if (sim_) sim_->stop();
  }

  void signIn(const std::string& user, const std::string& password, bool remember = false) {
    ASSERT_TRUE(ControllerHarness::signIn(user, password, remember));
  }

  std::string exportAndWait(double seconds = 20.0) {
    auto message = ControllerHarness::exportAndWait(seconds);
    EXPECT_TRUE(message) << "the export showed no sheet";
    return message.value_or("");
  }
};

}  // namespace marigold
