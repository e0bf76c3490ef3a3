#include "platform/application.h"

#include <gtest/gtest.h>

#include "base/log.h"

namespace marigold {
namespace {

TEST(ApplicationTest, StopModalRunsTheInstalledHandler) {
  Application app;
  app.stopModal();  // without a handler: counted only
  int stops = 0;
  app.setStopModalHandler([&] { ++stops; });
  app.stopModal();
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(app.stopModalCount(), 2u);
}

TEST(ApplicationTest, OneUpdaterPerBundleRecordsItsResets) {
  Application app;
  LogCapture capture;
  Updater& plugin = app.updaterForBundle("/plugins/Marigold.bundle");
  plugin.resetUpdateCycle();
  app.updaterForBundle("/plugins/Marigold.bundle").resetUpdateCycle();
  Updater& other = app.updaterForBundle("/plugins/Other.bundle");
  EXPECT_EQ(&app.updaterForBundle("/plugins/Marigold.bundle"), &plugin);
  EXPECT_NE(&other, &plugin);
  EXPECT_EQ(plugin.resetCount(), 2u);
  EXPECT_EQ(other.resetCount(), 0u);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>(2, "update cycle reset for /plugins/Marigold.bundle")));
}

}  // namespace
}  // namespace marigold
