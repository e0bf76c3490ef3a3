// The graphical host driven as a user drives it, for the GUI tests and the screenshot tool: a
// temporary HOME, the Plinth simulator in-process on loopback (real sockets and TLS), and a
// GuiSession using it as the service, with its window shown on whatever Qt
// platform runs (offscreen in tests). Typing and clicking go through QTest into the widgets; waits
// run Qt's event loop, bounded in time. Free of any test framework. One per process at a time
// (HOME is process-wide). Not copyable.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui_session.h"
#include "pane_widget.h"
#include "plinth_sim.h"
#include "sheet_widget.h"
#include "testing/camera_photo.h"
#include "testing/temporary_home.h"

namespace marigold {

// The main thread's longest stall while the probe runs: a 5 ms timer on it ticks whenever the
// event loop is free, and the largest gap between two ticks is how long the window could not
// answer. Each gap's time on the processor is measured too, which tells work on the main thread
// from waiting for a processor on a busy machine.
class StallProbe {
 public:
  StallProbe();
  struct Gap {
    double wallMs = 0;  // between the two ticks
    double busyMs = 0;  // of it, the main thread's own time on the processor
  };
  // The largest gap since the probe started or was last restarted.
  Gap largest() const { return largest_; }
  void restart();

 private:
  void tick();

  QTimer timer_;
  double lastWall_ = 0;
  double lastBusy_ = 0;
  Gap largest_;
};

class GuiHarness {
 public:
  // Starts the simulator (keeping its posts under a data folder in the temporary home).
  explicit GuiHarness(sim::SimOptions options = {});
  ~GuiHarness();
  GuiHarness(const GuiHarness&) = delete;
  GuiHarness& operator=(const GuiHarness&) = delete;

  // Loads the plug-in and shows the window with these photos, once they are prepared; a window
  // opened before is closed first.
  gui::GuiSession& open(std::vector<std::string> photos);
  // The same against another service (a simulator process of the test's own, say).
  gui::GuiSession& open(std::vector<std::string> photos, host::PluginSetup setup);
  // The windows opened from now on keep the remembered secret in the desktop keyring on the bus
  // at `busAddress` (a test's own, testing/secret_service.h).
  void useKeyring(const std::string& busAddress);
  // Waits until the plug-in reads the current selection, prepared, and its preview is shown;
  // answers whether it does.
  bool waitUntilPrepared(double seconds = 60);
  gui::GuiSession& session() { return *session_; }
  gui::ExportWindow& window() { return session_->window(); }

  // The pane's widget for the view named `identifier`, cast to T; null when absent or another type.
  template <typename T>
  T* widget(const char* identifier) {
    return dynamic_cast<T*>(window().pane()->widgetFor(identifier));
  }

  // Types into the pane's field as a user does (replacing what it held).
  void type(const char* identifier, const QString& text);
  // Types the user name and password and clicks "Log In".
  void signIn(const QString& user, const QString& password);
  // Chooses the menu item at `index` as a user does (in the pane, or any menu of the window).
  void choose(const char* identifier, int index);
  static void choose(QComboBox* menu, int index);
  static void click(QAbstractButton* button);

  // Runs Qt's event loop until `done` holds or `seconds` pass; answers `done`.
  static bool waitFor(const std::function<bool()>& done, double seconds = 20);
  // Waits until the sheet in front has an enabled first button outside an upload (an outcome, or
  // an alert).
  gui::SheetWidget* waitForOutcome(double seconds = 20);
  // The shown button of the sheet in front whose title (without its mnemonic) is `title`.
  QPushButton* sheetButton(const QString& title);
  // The addresses "View Post" asked to open (no browser is started).
  const std::vector<QUrl>& openedUrls() const { return openedUrls_; }

  // A file of `size` bytes in the temporary home (a repeating pattern of every byte value when
  // `fill` is absent); answers its path.
  std::string writeFile(const std::string& name, std::size_t size,
                        std::optional<char> fill = std::nullopt);
  // A real JPEG as a camera makes it (testing/camera_photo.h), small and upright unless asked.
  std::string writePhoto(const std::string& name,
                         const testing::CameraPhoto& photo = {
                             .width = 320, .height = 240, .orientation = 1});
  // The bytes of the photos the service stored, post by post (oldest first), in data[] order.
  std::vector<std::vector<std::string>> storedPhotos();

  TemporaryHome home_;
  std::filesystem::path dataDir_;
  std::unique_ptr<sim::PlinthSim> sim_;

 private:
  std::vector<QUrl> openedUrls_;
  std::optional<std::string> keyringBus_;
  std::optional<std::string> busBefore_;
  std::unique_ptr<gui::GuiSession> session_;
};

}  // namespace marigold
