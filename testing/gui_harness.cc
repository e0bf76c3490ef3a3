#include "testing/gui_harness.h"

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

namespace marigold {

namespace {

double clockMs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

StallProbe::StallProbe() {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
  timer_.start(5);
  restart();
}

void StallProbe::restart() {
  lastWall_ = clockMs(CLOCK_MONOTONIC);
  lastBusy_ = clockMs(CLOCK_THREAD_CPUTIME_ID);
  largest_ = {};
}

void StallProbe::tick() {
  const double wall = clockMs(CLOCK_MONOTONIC);
  const double busy = clockMs(CLOCK_THREAD_CPUTIME_ID);
  const Gap gap{wall - lastWall_, busy - lastBusy_};
  if (gap.wallMs > largest_.wallMs) largest_.wallMs = gap.wallMs;
  if (gap.busyMs > largest_.busyMs) largest_.busyMs = gap.busyMs;
  lastWall_ = wall;
  lastBusy_ = busy;
}

GuiHarness::GuiHarness(sim::SimOptions options) {
  dataDir_ = home_.path() / "service";
  options.dataDir = dataDir_;
  sim_ = std::make_unique<sim::PlinthSim>(std::move(options));
  sim_->start();
}

GuiHarness::~GuiHarness() {
  session_.reset();
  sim_->stop();
  if (keyringBus_) {
    if (busBefore_) {
      ::setenv("DBUS_SESSION_BUS_ADDRESS", busBefore_->c_str(), 1);
    } else {
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
  }
}

void GuiHarness::useKeyring(const std::string& busAddress) {
  if (!keyringBus_) {
    if (const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS")) busBefore_ = before;
  }
  keyringBus_ = busAddress;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
}

gui::GuiSession& GuiHarness::open(std::vector<std::string> photos) {
  // The simulator as the service, as the built-in application; the desktop keyring of whoever
  // runs the tests is never touched (only a test's own, with useKeyring). One window at a time, as
  // in the program: an earlier one goes first.
  return open(std::move(photos),
              host::PluginSetup{.service = {.authBase = sim_->authBase(),
                                            .apiBase = sim_->apiBase(),
                                            .trustedAuthorityFile = sim_->caFile().string(),
                                            .configurationHome = home_.path().string()},
                                .useDesktopKeyring = keyringBus_.has_value()});
}

gui::GuiSession& GuiHarness::open(std::vector<std::string> photos, host::PluginSetup setup) {
  session_.reset();
  session_ = std::make_unique<gui::GuiSession>(std::move(photos), std::move(setup));
  window().setUrlOpener([this](const QUrl& url) { openedUrls_.push_back(url); });
  window().show();
  waitFor([this] { return window().isVisible(); }, 5);
  waitUntilPrepared();
  return *session_;
}

bool GuiHarness::waitUntilPrepared(double seconds) {
  return waitFor([this] { return window().preparationReady() && window().pane()->previewReady(); },
                 seconds);
}

void GuiHarness::type(const char* identifier, const QString& text) {
  auto* edit = widget<QLineEdit>(identifier);
  if (edit == nullptr) return;
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

void GuiHarness::signIn(const QString& user, const QString& password) {
  type("plinthUsername", user);
  type("plinthPassword", password);
  click(widget<QPushButton>("loginButton"));
}

void GuiHarness::choose(const char* identifier, int index) {
  choose(widget<QComboBox>(identifier), index);
}

void GuiHarness::choose(QComboBox* combo, int index) {
  if (combo == nullptr) return;
  combo->setFocus();
  // Keyboard navigation picks items as a user does, with the activated signal.
  QTest::keyClick(combo, Qt::Key_Home);
  for (int i = 0; i < index; ++i) QTest::keyClick(combo, Qt::Key_Down);
}

void GuiHarness::click(QAbstractButton* button) {
  if (button != nullptr) QTest::mouseClick(button, Qt::LeftButton);
}

bool GuiHarness::waitFor(const std::function<bool()>& done, double seconds) {
  return QTest::qWaitFor(done, static_cast<int>(seconds * 1000));
}

gui::SheetWidget* GuiHarness::waitForOutcome(double seconds) {
  waitFor(
      [this] {
        auto* sheet = window().sheet();
        return sheet != nullptr && !window().upload() && sheet->button(0) != nullptr &&
               sheet->button(0)->isEnabled();
      },
      seconds);
  return window().sheet();
}

QPushButton* GuiHarness::sheetButton(const QString& title) {
  auto* sheet = window().sheet();
  if (sheet == nullptr) return nullptr;
  for (auto* button : sheet->findChildren<QPushButton*>()) {
    if (button->isVisibleTo(sheet) && button->text().remove('&') == title) return button;
  }
  return nullptr;
}

std::string GuiHarness::writeFile(const std::string& name, std::size_t size,
                                  std::optional<char> fill) {
  std::string bytes(size, fill.value_or('\0'));
  if (!fill) {
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  const auto path = home_.path() / name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

std::string GuiHarness::writePhoto(const std::string& name, const testing::CameraPhoto& photo) {
  const auto path = home_.path() / name;
  testing::writeCameraPhoto(path, photo);
  return path.string();
}

std::vector<std::vector<std::string>> GuiHarness::storedPhotos() {
  std::vector<std::vector<std::string>> posts;
  for (const sim::StoredPost& post : sim_->state().posts()) {
    std::vector<std::string> photos;
    for (std::size_t i = 0; i < post.photos.size(); ++i) {
      std::ifstream file(
          dataDir_ / "posts" / std::to_string(post.id) / ("photo-" + std::to_string(i) + ".bin"),
          std::ios::binary);
      photos.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    posts.push_back(std::move(photos));
  }
  return posts;
}

}  // namespace marigold
