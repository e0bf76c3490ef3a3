// The graphical host as a user drives it, on Qt's offscreen platform, against the Plinth simulator
// running in this process (real sockets and TLS) with a temporary home folder. Typing and clicks
// go through QTest into the widgets; every wait is bounded.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QKeySequence>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/translation.h"
#include "host/installed_files.h"
#include "host/simulator_process.h"
#include "pane_widget.h"
#include "photo_view.h"
#include "preparation_controls.h"
#include "settings/app_settings.h"
#include "signal_ending.h"
#include "testing/gui_harness.h"
#include "ui_text.h"

namespace marigold {
namespace {

constexpr const char* kUser = "ada";
constexpr const char* kPassword = "secret pass";
constexpr std::size_t kLimit = 5242880;  // the plug-in's limit on a post's photos, in bytes

sim::SimOptions service() {
  sim::SimOptions options;
  options.accounts = {{kUser, kPassword, {"ada-photos", "ada-travel"}}};
  return options;
}

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool showsPixmap(gui::PhotoView* view) { return view != nullptr && !view->pixmap().isNull(); }

// How far the progress bar is drawn filled in what the window shows on its screen (its backing
// store, as a screenshot has it): the pixels of the bar's middle row that differ from its empty
// right end.
int paintedWidth(QWidget& window, const QProgressBar& bar) {
  const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
  const qreal ratio = shot.devicePixelRatio();
  const QPoint at = bar.mapTo(&window, QPoint(0, bar.height() / 2));
  const int y = static_cast<int>(at.y() * ratio);
  const int left = static_cast<int>((at.x() + 3) * ratio);
  const int right = static_cast<int>((at.x() + bar.width() - 4) * ratio);
  const QColor empty = shot.pixelColor(right, y);
  int filled = 0;
  for (int x = left; x < right; ++x) {
    const QColor c = shot.pixelColor(x, y);
    const int distance = std::abs(c.red() - empty.red()) + std::abs(c.green() - empty.green()) +
                         std::abs(c.blue() - empty.blue());
    if (distance > 60) ++filled;
  }
  return filled;
}

// The bytes of the files the host hands the plug-in (the prepared photos), in order.
std::vector<std::string> handedOver(GuiHarness& gui) {
  std::vector<std::string> files;
  auto& manager = gui.session().exportManager();
  for (std::uint32_t i = 0; i < manager.imageCount(); ++i) {
    files.push_back(fileBytes(manager.imagePathAtIndex(i)));
  }
  return files;
}

gui::PreparationControls& controls(GuiHarness& gui) { return *gui.window().preparationControls(); }

std::vector<std::string> threeSamples() {
  return {MARIGOLD_EXAMPLES_PATH "/dusk.jpg", MARIGOLD_EXAMPLES_PATH "/harbour.jpg",
          MARIGOLD_EXAMPLES_PATH "/meadow.jpg"};
}

// With the size "Original" and every detail kept, the user's explicit way to post files exactly
// as they are, the service stores the photos byte for byte.
TEST(MarigoldGuiTest, SignInCaptionAndPostStoresThePhotosByteForByte) {
  GuiHarness gui(service());
  const std::vector<std::string> photos = {
      MARIGOLD_EXAMPLES_PATH "/sunrise.jpg",
      gui.writePhoto("camera.jpg", {.width = 1200, .height = 900, .orientation = 6})};
  gui.open(photos);
  gui.choose(controls(gui).sizeMenu(), 1);
  EXPECT_EQ(controls(gui).sizeMenu()->currentText(), "Original");
  gui.click(controls(gui).locationBox());
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_FALSE(gui.window().postButton()->isEnabled());  // signed out
  EXPECT_EQ(gui.window().thumbnails()->count(), 2);
  EXPECT_TRUE(showsPixmap(gui.widget<gui::PhotoView>("imagePreview")));  // the first photo, decoded
  EXPECT_EQ(gui.widget<QLineEdit>("plinthPassword")->echoMode(), QLineEdit::Password);

  gui.signIn(kUser, kPassword);
  EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text().remove('&'), "Log Out");
  ASSERT_EQ(gui.widget<QComboBox>("plinthSelect")->count(), 2);
  gui.choose("plinthSelect", 1);
  gui.type("plinthCaptions", "Two views");
  // Return in the pane is the plug-in's to handle: it swallows it, and nothing is posted.
  QTest::keyClick(gui.widget<QLineEdit>("plinthCaptions"), Qt::Key_Return);
  EXPECT_EQ(gui.window().sheet(), nullptr);
  ASSERT_TRUE(gui.window().postButton()->isEnabled());

  // The upload as the plug-in reports it to the window, and as the sheet shows it.
  std::vector<int> barValues;
  std::vector<pane::UploadProgress> reports;
  std::vector<QString> headings;
  std::vector<QString> lines;
  const std::uint64_t total = gui.window().prepared()->result.totalBytes();
  gui.click(gui.window().postButton());
  auto* sheet = gui.window().sheet();
  ASSERT_NE(sheet, nullptr);
  auto* message = sheet->findChild<QLabel*>("message");
  auto* line = sheet->findChild<QLabel*>("detail");
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (const auto& upload = gui.window().upload()) {
      reports.push_back(*upload);
      if (headings.empty() || headings.back() != sheet->accessibleName()) {
        headings.push_back(sheet->accessibleName());
      }
      if (lines.empty() || lines.back() != line->text()) lines.push_back(line->text());
    }
    if (barValues.empty() || barValues.back() != sheet->paintedValue()) {
      barValues.push_back(sheet->paintedValue());
    }
  });
  watch.start(0);
  ASSERT_EQ(gui.waitForOutcome(), sheet);
  watch.stop();

  EXPECT_EQ(message->text(), "Your images were succesfully posted.");
  EXPECT_FALSE(sheet->progressBar()->isVisible());
  EXPECT_FALSE(gui.window().upload().has_value());
  ASSERT_FALSE(reports.empty());
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].photoBytesTotal, total);
    if (i == 0) continue;
    EXPECT_GE(reports[i].phase, reports[i - 1].phase);
    EXPECT_GE(reports[i].photoBytesSent, reports[i - 1].photoBytesSent);
  }
  EXPECT_EQ(reports.back().phase, pane::UploadProgress::Phase::kWaitingForReply);
  EXPECT_EQ(reports.back().photoBytesSent, total);
  // One name for the sheet all through the upload; its line counts the photos' megabytes.
  EXPECT_EQ(headings, std::vector<QString>{"Posting 2 photos to Plinth"});
  static const QRegularExpression sentLine("^[0-9.]+ [KM]B of ([0-9.]+ [KM]B) sent");
  bool counted = false;
  for (const QString& text : lines) {
    if (const auto match = sentLine.match(text); match.hasMatch()) {
      counted = true;
      EXPECT_TRUE(gui.window().sizeLine()->text().contains(" · " + match.captured(1) + " of "))
          << text.toStdString();
    }
  }
  EXPECT_TRUE(counted);
  EXPECT_TRUE(lines.back().endsWith("sent · waiting for Plinth's answer…"))
      << lines.back().toStdString();
  barValues.erase(std::remove(barValues.begin(), barValues.end(), -1), barValues.end());
  ASSERT_FALSE(barValues.empty());
  EXPECT_TRUE(std::is_sorted(barValues.begin(), barValues.end()));
  EXPECT_GT(barValues.back(), gui::SheetWidget::kBarSteps / 2);  // advanced to the end
  const auto stored = gui.storedPhotos();
  ASSERT_EQ(stored.size(), 1u);
  ASSERT_EQ(stored[0].size(), 2u);
  EXPECT_TRUE(stored[0][0] == fileBytes(photos[0]));
  EXPECT_TRUE(stored[0][1] == fileBytes(photos[1]));
  EXPECT_EQ(gui.sim_->state().posts()[0].blog, "ada-travel");

  gui.click(gui.sheetButton("Close"));  // ends the run: the window closes
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !gui.window().isVisible(); }, 5));
}

// Outcomes the user must be able to read and leave: the sheet's texts, with "OK" enabled.
TEST(MarigoldGuiTest, FailuresShowTheirSheetWithOKEnabled) {
  struct Case {
    const char* name;
    int postStatus;
    std::vector<std::string> refusals;  // oauth_problems of the first posts' 401s
    const char* password;
    bool post;
    const char* message;  // the start of the sheet's message
    const char* informative;
  };
  const Case cases[] = {
      {"wrong password",
       0,
       {},
       "wrong",
       false,
       "There was a problem logging in.",
       "Check your username and password and try again."},
      {"refused post",
       500,
       {},
       kPassword,
       true,
       "Plinth could not take the post just now, so nothing was posted.",
       "Try again in a few minutes."},
      {"sign-in refused",
       0,
       {"token_expired"},
       kPassword,
       true,
       "Plinth no longer accepts your sign-in, so nothing was posted.",
       "Sign in again, then export again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options = service();
    options.faults.postStatus = c.postStatus;
    options.faults.refusePosts = c.refusals;
    GuiHarness gui(std::move(options));
    gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
    gui.signIn(kUser, c.password);
    if (c.post) gui.click(gui.window().postButton());
    auto* sheet = gui.waitForOutcome();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->findChild<QLabel*>("message")->text().startsWith(c.message));
    EXPECT_EQ(sheet->findChild<QLabel*>("informative")->text(), c.informative);
    EXPECT_TRUE(sheet->button(0)->isEnabled());
    EXPECT_FALSE(gui.window().postButton()->isEnabled());
    EXPECT_TRUE(gui.storedPhotos().empty());
  }
}

// A failure is said in plain words; the service's status code and reason are behind Details. A
// refusal that trying again cannot mend offers Sign In, which leaves the sheet with the focus in
// Password; a sign-in the service is too busy for says so without its status code.
TEST(MarigoldGuiTest, RefusalsSayWhatHappenedAndKeepTheCodesBehindDetails) {
  struct Case {
    const char* name;
    std::vector<std::string> refusals;
    const char* message;
    const char* reason;  // in the Details, beside the status code
  };
  const Case cases[] = {
      {"permission denied",
       {"permission_denied"},
       "Plinth refused the post, so nothing was posted.",
       "permission_denied"},
      {"sign-in refused",
       {"token_expired"},
       "Plinth no longer accepts your sign-in, so nothing was posted.",
       "Sign in again, then export again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options = service();
    options.faults.refusePosts = c.refusals;
    GuiHarness gui(std::move(options));
    gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
    gui.signIn(kUser, kPassword);
    gui.click(gui.window().postButton());
    auto* sheet = gui.waitForOutcome();
    ASSERT_NE(sheet, nullptr);
    const QString message = sheet->findChild<QLabel*>("message")->text();
    EXPECT_EQ(message, c.message);
    EXPECT_FALSE(message.contains("HTTP"));
    EXPECT_FALSE(sheet->findChild<QLabel*>("informative")->text().contains("HTTP"));
    ASSERT_FALSE(sheet->detailsButton()->isHidden());
    const QString details = sheet->findChild<QPlainTextEdit*>("details")->toPlainText();
    EXPECT_TRUE(details.contains("HTTP 401")) << details.toStdString();
    EXPECT_TRUE(details.contains(c.reason)) << details.toStdString();
    EXPECT_EQ(gui.sheetButton("Try Again"), nullptr);
    ASSERT_NE(gui.sheetButton("Sign In"), nullptr);
    if (c.refusals.front() == "token_expired") {
      gui.click(gui.sheetButton("Sign In"));
      ASSERT_TRUE(GuiHarness::waitFor([&] {
        const QWidget* focused = gui.window().focusWidget();
        return focused != nullptr && focused->objectName() == "plinthPassword";
      }));
    }
  }

  sim::SimOptions busy = service();
  busy.faults.tokenStatus = 503;
  GuiHarness gui(std::move(busy));
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  auto* sheet = gui.waitForOutcome();
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(sheet->findChild<QLabel*>("informative")->text().contains("HTTP"));
  EXPECT_EQ(sheet->findChild<QPlainTextEdit*>("details")->toPlainText(), "HTTP 503");
}

// Selections over the service's limits disable Post and show the pane's notice, also when the
// user signs in after the pane was shown.
TEST(MarigoldGuiTest, SelectionsOverTheLimitsDisablePostWithTheNotice) {
  struct Case {
    const char* name;
    std::size_t photos;
    testing::CameraPhoto photo;
    bool original;       // the size "Original" chosen
    const char* notice;  // part of the notice's text; "" = no notice
  };
  constexpr testing::CameraPhoto kSmall = {.width = 64, .height = 48, .orientation = 1};
  const Case cases[] = {
      {"ten small photos", 10, kSmall, false, ""},
      {"a camera photo at its original size",
       1,
       {.width = 4000, .height = 3000, .orientation = 1, .quality = 96},
       true,
       "larger than 5 MB"},
      {"11 photos", 11, kSmall, false, "at most 10 photos"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuiHarness gui(service());
    std::vector<std::string> photos;
    for (std::size_t i = 0; i < c.photos; ++i) {
      photos.push_back(gui.writePhoto("photo" + std::to_string(i) + ".jpg", c.photo));
    }
    gui.open(photos);
    if (c.original) {
      gui.choose(controls(gui).sizeMenu(), 1);
      ASSERT_TRUE(gui.waitUntilPrepared());
    }
    gui.signIn(kUser, kPassword);
    EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text().remove('&'), "Log Out");
    auto* notice = gui.widget<QLabel>("notificationField");
    ASSERT_NE(notice, nullptr);
    const bool postable = c.notice[0] == '\0';
    EXPECT_EQ(gui.window().postButton()->isEnabled(), postable);
    EXPECT_EQ(notice->isVisible(), !postable);
    if (!postable) {
      EXPECT_TRUE(notice->text().contains(c.notice)) << notice->text().toStdString();
    }
  }
}

TEST(MarigoldGuiTest, DroppedImageFilesAreAddedAndPreviewed) {
  GuiHarness gui(service());
  gui.open({});
  EXPECT_FALSE(showsPixmap(gui.widget<gui::PhotoView>("imagePreview")));
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "kept");

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(MARIGOLD_EXAMPLES_PATH "/harbour.jpg"),
                QUrl::fromLocalFile(MARIGOLD_EXAMPLES_PATH "/meadow.jpg"),
                QUrl::fromLocalFile(QString::fromStdString(gui.writeFile("notes.txt", 10, 'n'))),
                // An image's name does not make an image: the first bytes are what count.
                QUrl::fromLocalFile(QString::fromStdString(gui.writeFile("notes.jpg", 10, 'n')))});
  const QPoint centre = gui.window().rect().center();
  QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&gui.window(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&gui.window(), &drop);
  ASSERT_TRUE(gui.waitUntilPrepared());

  ASSERT_EQ(gui.window().selection().size(), 2u);  // the text files are left out
  ASSERT_EQ(gui.session().exportManager().imageCount(), 2u);
  EXPECT_EQ(gui.window().thumbnails()->count(), 2);
  EXPECT_FALSE(gui.window().thumbnails()->item(0)->icon().isNull());
  EXPECT_TRUE(showsPixmap(gui.widget<gui::PhotoView>("imagePreview")));
  EXPECT_EQ(gui.widget<QLineEdit>("plinthCaptions")->text(), "kept");
  // Two photos: no click-through link, as the pane says.
  EXPECT_FALSE(gui.widget<QLineEdit>("plinthClickthrough")->isEnabled());

  // Removing the first leaves the second, which the preview now shows.
  gui.window().thumbnails()->item(0)->setSelected(true);
  gui.click(gui.window().findChild<QPushButton*>("remove"));
  ASSERT_TRUE(gui.waitUntilPrepared());
  ASSERT_EQ(gui.session().exportManager().imageCount(), 1u);
  EXPECT_EQ(gui.window().selection(),
            std::vector<std::string>{MARIGOLD_EXAMPLES_PATH "/meadow.jpg"});
  EXPECT_TRUE(gui.widget<QLineEdit>("plinthClickthrough")->isEnabled());
}

// Delete takes one photo out and leaves the rest as they were: the other thumbnails stay decoded
// (nothing is decoded again), the photo that took its place is selected, so that Delete goes on,
// and the list stays where it was scrolled.
TEST(MarigoldGuiTest, DeleteKeepsTheOtherThumbnailsTheSelectionAndTheScroll) {
  GuiHarness gui(service());
  std::vector<std::string> photos;
  for (int i = 0; i < 12; ++i) {
    photos.push_back(gui.writePhoto(std::string("p").append(std::to_string(i)).append(".jpg"),
                                    {.width = 64 + i, .height = 48, .orientation = 1}));
  }
  gui.open(photos);
  auto* list = gui.window().thumbnails();
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }));
  QScrollBar* scroll = list->verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 0);
  scroll->setValue(scroll->maximum());
  const int scrolled = scroll->value();
  auto pictures = [&] {
    std::map<QString, qint64> keys;
    for (int row = 0; row < list->count(); ++row) {
      keys[list->item(row)->data(Qt::UserRole).toString()] = list->item(row)->icon().cacheKey();
    }
    return keys;
  };
  std::map<QString, qint64> before = pictures();
  list->setFocus();
  list->setCurrentRow(10);
  QTest::keyClick(list, Qt::Key_Delete);

  ASSERT_EQ(list->count(), 11);
  EXPECT_TRUE(gui.window().thumbnailsReady());  // nothing to decode again
  before.erase(QString::fromStdString(photos[10]));
  EXPECT_EQ(pictures(), before);
  ASSERT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(list->selectedItems()[0]->data(Qt::UserRole).toString(),
            QString::fromStdString(photos[11]));
  EXPECT_EQ(scroll->value(), std::min(scrolled, scroll->maximum()));

  QTest::keyClick(list, Qt::Key_Delete);  // the next one goes too
  EXPECT_EQ(list->count(), 10);
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(gui.session().exportManager().imageCount(), 10u);
}

// Reaching the list by the keyboard selects the photo its focus frame shows: Delete removes it at
// once, without an arrow key first.
TEST(MarigoldGuiTest, ListReachedByTabSelectsItsPhotoAndDeleteRemovesIt) {
  GuiHarness gui(service());
  gui.open({gui.writePhoto("a.jpg"), gui.writePhoto("b.jpg"), gui.writePhoto("c.jpg")});
  auto* list = gui.window().thumbnails();
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }));
  list->clearSelection();
  QPushButton* add = nullptr;
  for (auto* button : gui.window().findChildren<QPushButton*>()) {
    if (button->text() == "&Add Photos...") add = button;
  }
  ASSERT_NE(add, nullptr);
  add->setFocus();
  QTest::keyClick(add, Qt::Key_Backtab, Qt::ShiftModifier);  // the list comes just before it
  ASSERT_EQ(QApplication::focusWidget(), list);
  ASSERT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(list->selectedItems()[0], list->currentItem());
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(list->count(), 2);
}

// Removing or adding a photo prepares only what changed: after Delete, the others' files are not
// decoded again (Fit encodes them again for their larger share from the pictures it holds) and
// Post is enabled again; a photo added is the only one decoded.
TEST(MarigoldGuiTest, RemovingOrAddingAPhotoDecodesNoOtherPhotoAgain) {
  GuiHarness gui(service());
  std::vector<std::string> photos;
  for (int i = 0; i < 4; ++i) {
    photos.push_back(gui.writePhoto("IMG_" + std::to_string(i) + ".jpg",
                                    {.width = 3200, .height = 2400, .quality = 90 + i}));
  }
  const std::string later = photos.back();
  photos.pop_back();
  gui.open(photos);
  gui.signIn(kUser, kPassword);
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(gui.window().prepared()->result.decodes, 3u);
  const std::uint64_t before = gui.window().prepared()->result.photos[0].bytes;

  gui.window().thumbnails()->setFocus();
  gui.window().thumbnails()->setCurrentRow(2);
  QTest::keyClick(gui.window().thumbnails(), Qt::Key_Delete);
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_TRUE(gui.window().postButton()->isEnabled());
  EXPECT_EQ(gui.window().prepared()->result.decodes, 0u);
  EXPECT_GT(gui.window().prepared()->result.photos[0].bytes, before);  // Fit gave it more room
  EXPECT_LE(gui.window().prepared()->result.totalBytes(), kLimit);

  gui.window().addPhotos({QString::fromStdString(later)});
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(gui.window().prepared()->result.decodes, 1u);
  EXPECT_EQ(gui.session().exportManager().imageCount(), 3u);
  EXPECT_TRUE(gui.window().postButton()->isEnabled());
}

// A phone's HEIC gets its thumbnail from the photo pipeline and goes out as JPEG; a file that
// looks like a JPEG but cannot be decoded is marked, named under the thumbnails and holds the post
// back until it is removed.
TEST(MarigoldGuiTest, PhonePhotosAreShownAndBrokenOnesHoldThePostBack) {
  GuiHarness gui(service());
  const auto heic = gui.home_.path() / "phone.heic";
  std::string noHeic;
  const bool haveHeic = testing::writeHeic(heic, 600, 800, noHeic);
  if (!haveHeic) std::cout << "HEIC photo left out: " << noHeic << "\n";
  const std::string broken = gui.writeFile("broken.jpg", 4096, 'x');
  std::fstream(broken, std::ios::in | std::ios::out | std::ios::binary) << "\xFF\xD8\xFF\xE0";
  std::vector<std::string> photos = {MARIGOLD_EXAMPLES_PATH "/dusk.jpg", broken};
  if (haveHeic) photos.push_back(heic.string());
  gui.open(photos);
  gui.signIn(kUser, kPassword);
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }));

  EXPECT_FALSE(gui.window().postButton()->isEnabled());
  ASSERT_TRUE(gui.window().problemLine()->isVisible());
  EXPECT_TRUE(gui.window().problemLine()->text().startsWith("broken.jpg cannot be decoded"))
      << gui.window().problemLine()->text().toStdString();
  EXPECT_EQ(gui.session().exportManager().imageCount(), photos.size() - 1);
  if (haveHeic) {
    EXPECT_TRUE(
        gui.window().thumbnails()->item(2)->icon().availableSizes().contains(QSize(72, 96)));
  }

  gui.window().removePhotos({1});
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_TRUE(gui.window().postButton()->isEnabled());
  EXPECT_FALSE(gui.window().problemLine()->isVisible());
  if (haveHeic) {
    const std::string sent = fileBytes(gui.session().exportManager().imagePathAtIndex(1));
    EXPECT_EQ(sent.substr(0, 3), "\xFF\xD8\xFF");  // JPEG
  }
}

// Whether this build checks memory (AddressSanitizer): its code runs several times slower than
// the program users get, so the stall probe's figures are shown there but not held to the limit.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kInstrumentedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kInstrumentedBuild = true;
#else
constexpr bool kInstrumentedBuild = false;
#endif
#else
constexpr bool kInstrumentedBuild = false;
#endif

// The window never stops answering for long, in any flow with ten camera photos: a stall probe
// (a 5 ms timer on the main thread) measures the longest time between its ticks, and how much of
// it the main thread spent working (the rest is the busy machine's other work).
TEST(MarigoldGuiTest, NoFlowStallsTheWindowWithTenCameraPhotos) {
  sim::SimOptions options = service();
  options.faults.postStatus = 500;
  options.faults.postStatusOnce = true;
  GuiHarness gui(std::move(options));
  std::vector<std::string> photos;
  for (int i = 0; i < 10; ++i) {
    photos.push_back(
        gui.writePhoto("IMG_000" + std::to_string(i) + ".jpg", {.width = 4000, .height = 3000}));
  }
  std::vector<std::pair<std::string, StallProbe::Gap>> flows;
  StallProbe probe;
  auto measured = [&](const char* flow) {
    flows.emplace_back(flow, probe.largest());
    probe.restart();
  };
  gui.open(photos);
  ASSERT_TRUE(gui.waitUntilPrepared(300));
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }, 60));
  measured("ten photos opened and prepared");
  gui.choose(controls(gui).sizeMenu(), 3);
  ASSERT_TRUE(gui.waitUntilPrepared(300));
  measured("photo size changed");
  gui.window().thumbnails()->setFocus();
  gui.window().thumbnails()->setCurrentRow(9);
  QTest::keyClick(gui.window().thumbnails(), Qt::Key_Delete);
  ASSERT_TRUE(gui.waitUntilPrepared(300));
  measured("photo removed");
  gui.signIn(kUser, kPassword);
  measured("signed in");
  gui.click(gui.window().postButton());
  ASSERT_NE(gui.waitForOutcome(120), nullptr);
  measured("post refused by the service");
  gui.click(gui.sheetButton("Try Again"));
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.sheetButton("View Post") != nullptr; }, 120));
  measured("post");
  ASSERT_EQ(gui.storedPhotos().size(), 1u);

  for (const auto& [flow, gap] : flows) {
    std::cout << "largest stall, " << flow << ": " << gap.wallMs << " ms (" << gap.busyMs
              << " ms of it working)\n";
    if (!kInstrumentedBuild) {
      EXPECT_LT(gap.busyMs, 100) << flow;
    }
  }
}

// Whether every line of the label's text is inside it at its width.
bool fits(const QLabel* label) {
  return label->isHidden() || (label->height() >= label->heightForWidth(label->width()) &&
                               label->minimumSizeHint().width() <= label->width());
}

// A connection that breaks during the upload is said once, in the failure sheet: no box of its
// own, no sheet left spinning; the connection's own words (libcurl's too) behind Details; every
// text fits.
TEST(MarigoldGuiTest, BrokenConnectionIsSaidOnceInTheFailureSheet) {
  sim::SimOptions options = service();
  options.faults.closeAfter = 1000;
  GuiHarness gui(std::move(options));
  gui.open({MARIGOLD_EXAMPLES_PATH "/harbour.jpg"});
  QApplication::setActiveWindow(&gui.window());
  gui.signIn(kUser, kPassword);
  int boxes = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      ++boxes;
      box->buttons().front()->click();
    }
  });
  answer.start(5);
  gui.click(gui.window().postButton());
  auto* sheet = gui.waitForOutcome();
  answer.stop();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(boxes, 0);
  auto* message = sheet->findChild<QLabel*>("message");
  auto* informative = sheet->findChild<QLabel*>("informative");
  EXPECT_TRUE(message->text().startsWith("The post failed: the connection to Plinth broke off ("))
      << message->text().toStdString();
  EXPECT_FALSE(message->text().contains("127.0.0.1"));
  EXPECT_FALSE(informative->text().isEmpty());
  EXPECT_FALSE(sheet->progressBar()->isVisible());
  EXPECT_EQ(gui.window().focusWidget(), gui.sheetButton("OK"));
  auto* details = sheet->findChild<QPlainTextEdit*>("details");
  ASSERT_NE(details, nullptr);
  EXPECT_FALSE(details->isVisible());
  EXPECT_TRUE(fits(message) && fits(informative));
  EXPECT_GE(sheet->height(), sheet->heightForWidth(sheet->width()));

  gui.click(sheet->detailsButton());
  ASSERT_TRUE(details->isVisible());
  const QString detail = details->toPlainText();
  EXPECT_TRUE(detail.contains(QString::fromStdString(gui.sim_->apiBase()) + "/v2/blog/"))
      << detail.toStdString();
  EXPECT_TRUE(detail.contains("URLLoading error ")) << detail.toStdString();
  EXPECT_TRUE(
      detail.contains(QRegularExpression(": ((Send|Recv) failure: |Empty reply from server)")))
      << detail.toStdString();
  EXPECT_GE(sheet->height(), sheet->heightForWidth(sheet->width()));
  EXPECT_EQ(details->verticalScrollBar()->maximum(), 0);  // every line of it in view
  EXPECT_TRUE(fits(message) && fits(informative));
  EXPECT_TRUE(sheet->button(0)->isEnabled());
}

// The upload runs inside Qt's event loop: while the service reads slowly the window goes on
// handling events, and Cancel stops the upload with nothing stored.
TEST(MarigoldGuiTest, SlowUploadKeepsTheWindowLiveAndCancelStoresNothing) {
  sim::SimOptions options = service();
  options.faults.slowPostRate = 256 * 1024;
  GuiHarness gui(std::move(options));
  // Some megabytes, sent at their size: a body larger than the connection's buffers take at once.
  gui.open({gui.writePhoto("big.jpg",
                           {.width = 3000, .height = 2000, .orientation = 1, .quality = 96})});
  gui.choose(controls(gui).sizeMenu(), 1);  // Original
  ASSERT_TRUE(gui.waitUntilPrepared());
  ASSERT_GT(gui.window().prepared()->result.totalBytes(), 2u * 1024 * 1024);
  gui.signIn(kUser, kPassword);
  gui.click(gui.window().postButton());
  auto* sheet = gui.window().sheet();
  ASSERT_NE(sheet, nullptr);
  auto* message = sheet->findChild<QLabel*>("message");

  // Events the window handles while the upload goes on: timer ticks and repaints of the bar.
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(10);
  // What a screen reader hears of the bar: its value, not at every write but every few seconds.
  std::vector<qint64> announced;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(sheet->progressBar(), &QProgressBar::valueChanged, [&](int value) {
    if (value > 0 && value < gui::SheetWidget::kBarSteps) announced.push_back(clock.elapsed());
  });
  auto sending = [&] {
    const auto& upload = gui.window().upload();
    return upload && upload->phase == pane::UploadProgress::Phase::kSending;
  };
  ASSERT_TRUE(GuiHarness::waitFor(sending));
  // The bar on the screen fills as the upload goes on, without the pointer passing over it.
  const int paintedBefore = paintedWidth(gui.window(), *sheet->progressBar());
  const int barBefore = sheet->paintedValue();
  ASSERT_TRUE(GuiHarness::waitFor([&] { return sheet->paintedValue() > barBefore + 50; }));
  QTest::qWait(50);
  EXPECT_GT(paintedWidth(gui.window(), *sheet->progressBar()), paintedBefore);
  // Each time, the screen comes to show the step the bar was given, within the bar's frame and
  // rounding, while the upload goes on with nothing else happening (not some earlier step, as a
  // bar that repaints only when the pointer passes over it would show).
  QProgressBar* bar = sheet->progressBar();
  const int grooveWidth = bar->width() - 7;  // paintedWidth's span: the frame left out
  auto showsItsStep = [&] {
    const int expected = grooveWidth * sheet->paintedValue() / gui::SheetWidget::kBarSteps;
    return std::abs(paintedWidth(gui.window(), *bar) - expected) <= 3;
  };
  int samples = 0;
  for (int i = 0; i < 8 && sending(); ++i) {
    QTest::qWait(60);
    EXPECT_TRUE(GuiHarness::waitFor(showsItsStep, 1))
        << "at step " << sheet->paintedValue() << ", on the screen "
        << paintedWidth(gui.window(), *bar) << " of " << grooveWidth << " pixels";
    ++samples;
  }
  EXPECT_GE(samples, 4);
  const int wakeUpsBefore = static_cast<int>(gui.session().driver().wakeUps());
  const int ticksBefore = ticks;
  // Both go on together: the timer's ticks and the upload's own wake-ups (which come as the
  // service reads, a few times a second).
  EXPECT_TRUE(GuiHarness::waitFor([&] {
    return ticks >= ticksBefore + 5 &&
           static_cast<int>(gui.session().driver().wakeUps()) > wakeUpsBefore;
  }));
  EXPECT_TRUE(sending());
  // The line under the bar says how much of the photos went and how long the rest takes.
  auto* line = sheet->findChild<QLabel*>("detail");
  static const QRegularExpression timed(
      "^[0-9.]+ [KM]B of [0-9.]+ [KM]B sent, about [0-9]+ s left$");
  EXPECT_TRUE(GuiHarness::waitFor([&] { return timed.match(line->text()).hasMatch(); }, 10))
      << line->text().toStdString();
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !announced.empty(); }, 10));
  EXPECT_TRUE(sending());  // still part-way
  EXPECT_EQ(message->text(), "Posting 1 photo to Plinth");
  for (std::size_t i = 1; i < announced.size(); ++i) {
    EXPECT_GE(announced[i] - announced[i - 1], 1500);
  }
  EXPECT_TRUE(gui.window().cancelButton()->isEnabled());

  gui.click(gui.window().cancelButton());
  EXPECT_EQ(message->text(), "The post was cancelled.");
  EXPECT_TRUE(sheet->button(0)->isEnabled());
  gui.sim_->stop();  // the service is done with the connection it was reading
  EXPECT_TRUE(gui.storedPhotos().empty());
}

// The messages language of a desktop session for the length of a test: LANGUAGE and LC_ALL set,
// the catalogues read from the build; put back as it was (English) after.
class SessionLanguage {
 public:
  SessionLanguage(const char* language, const char* all) {
    ::setenv("LANGUAGE", language, 1);
    ::setenv("LC_ALL", all, 1);
    useTranslations(host::catalogueFolder());
  }
  ~SessionLanguage() {
    ::unsetenv("LANGUAGE");
    ::unsetenv("LC_ALL");
    std::setlocale(LC_MESSAGES, "C");
  }
  SessionLanguage(const SessionLanguage&) = delete;
  SessionLanguage& operator=(const SessionLanguage&) = delete;
};

// The window speaks the session's language, its sizes written as the language writes numbers,
// while under LC_ALL=C it reads as written, whatever LANGUAGE says: the size line, the buttons,
// the photo size menu and the upload's sheet with its Cancel. A language without a catalogue
// named first (Korean, which writes "1.3 MB") gives neither the texts nor the numbers.
TEST(MarigoldGuiTest, WindowAndItsSheetReadTheSessionsLanguage) {
  struct Case {
    const char* language;
    const char* all;
    const char* post;
    const char* fit;
    const char* heading;
    const char* cancel;
    const char* sizeLine;   // a pattern
    const char* detail;     // a pattern
    const char* cancelled;  // the plug-in's own words in its sheet
  };
  const Case kCases[] = {
      {"de", "C.UTF-8", "&Veröffentlichen", "Einpassen", "Poste 1 Foto auf Plinth", "Abbrechen",
       "^1 Foto · [0-9]+,[0-9] MB von 5 MB · höchstens 10$",
       "^[0-9]+(,[0-9])? [KM]B von [0-9]+,[0-9] MB gesendet", "Der Beitrag wurde abgebrochen."},
      {"ko:de", "C.UTF-8", "&Veröffentlichen", "Einpassen", "Poste 1 Foto auf Plinth", "Abbrechen",
       "^1 Foto · [0-9]+,[0-9] MB von 5 MB · höchstens 10$",
       "^[0-9]+(,[0-9])? [KM]B von [0-9]+,[0-9] MB gesendet", "Der Beitrag wurde abgebrochen."},
      {"de", "C", "&Post", "Fit", "Posting 1 photo to Plinth", "Cancel",
       "^1 photo · [0-9]+\\.[0-9] MB of 5 MB · at most 10$",
       "^[0-9]+(\\.[0-9])? [KM]B of [0-9]+\\.[0-9] MB sent", "The post was cancelled."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("LANGUAGE=") + c.language + " LC_ALL=" + c.all);
    const SessionLanguage language(c.language, c.all);
    sim::SimOptions options = service();
    options.faults.slowPostRate = 256 * 1024;
    GuiHarness gui(std::move(options));
    gui.open({gui.writePhoto("big.jpg",
                             {.width = 3000, .height = 2000, .orientation = 1, .quality = 96})});
    gui.choose(controls(gui).sizeMenu(), 1);  // Original
    ASSERT_TRUE(gui.waitUntilPrepared());
    gui.signIn(kUser, kPassword);
    EXPECT_EQ(gui.window().postButton()->text(), QString::fromUtf8(c.post));
    EXPECT_EQ(controls(gui).sizeMenu()->itemText(0), QString::fromUtf8(c.fit));
    // A row without a label of its own gets none (gettext answers an empty text with the
    // catalogue's header).
    for (const QLabel* label : gui.window().pane()->findChildren<QLabel*>()) {
      EXPECT_FALSE(label->text().contains("Project-Id-Version")) << label->text().toStdString();
    }
    // Every title of the pane's buttons fits: the window is as wide as the language needs.
    QTest::qWait(50);
    for (const QAbstractButton* button : gui.window().pane()->findChildren<QAbstractButton*>()) {
      if (!button->isVisible()) continue;
      EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    }
    const QString line = gui.window().sizeLine()->text();
    EXPECT_TRUE(QRegularExpression(QString::fromUtf8(c.sizeLine)).match(line).hasMatch())
        << line.toStdString();

    gui.click(gui.window().postButton());
    auto* sheet = gui.window().sheet();
    ASSERT_NE(sheet, nullptr);
    auto* detail = sheet->findChild<QLabel*>("detail");
    const QRegularExpression sent(QString::fromUtf8(c.detail));
    EXPECT_TRUE(GuiHarness::waitFor([&] { return sent.match(detail->text()).hasMatch(); }))
        << detail->text().toStdString();
    EXPECT_EQ(sheet->findChild<QLabel*>("message")->text(), QString::fromUtf8(c.heading));
    ASSERT_NE(sheet->button(0), nullptr);
    EXPECT_EQ(sheet->button(0)->text(), QString::fromUtf8(c.cancel));
    gui.click(gui.window().cancelButton());
    EXPECT_EQ(sheet->findChild<QLabel*>("message")->text(), QString::fromUtf8(c.cancelled));
    gui.sim_->stop();
  }
}

// Every button and check box of the window can be reached by Alt and a letter in every language,
// and no two controls of one window (labels included) or of one question share the letter: the
// window signed out and signed in (Log In becomes Log Out), and the restore and discard questions.
TEST(MarigoldGuiTest, EveryButtonHasAMnemonicOfItsOwnInEveryLanguage) {
  struct Case {
    const char* language;
    const char* all;
  };
  constexpr Case kCases[] = {
      {"en", "C"}, {"de", "C.UTF-8"}, {"es", "C.UTF-8"}, {"fr", "C.UTF-8"}, {"ja", "C.UTF-8"}};
  // The letter of a text, lower case; empty without one ("サインイン(&S)" gives "s").
  auto letterOf = [](const QString& text) {
    return QKeySequence::mnemonic(text).toString().remove("Alt+").toLower();
  };
  auto checkUnique = [&](const std::vector<std::pair<QString, bool>>& texts) {
    std::map<QString, QString> taken;
    for (const auto& [text, needsOne] : texts) {
      const QString letter = letterOf(text);
      if (letter.isEmpty()) {
        EXPECT_FALSE(needsOne) << "no mnemonic: " << text.toStdString();
        continue;
      }
      const auto [at, added] = taken.try_emplace(letter, text);
      EXPECT_TRUE(added) << "Alt+" << letter.toStdString() << " in both " << text.toStdString()
                         << " and " << at->second.toStdString();
    }
  };
  // The buttons and check boxes shown (each needs a mnemonic) and the labels that lead to a field.
  auto windowTexts = [](QWidget& window) {
    std::vector<std::pair<QString, bool>> texts;
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
      if (button->isVisibleTo(&window)) texts.emplace_back(button->text(), true);
    }
    for (const QLabel* label : window.findChildren<QLabel*>()) {
      if (label->buddy() != nullptr) texts.emplace_back(label->text(), false);
    }
    return texts;
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("LANGUAGE=") + c.language + " LC_ALL=" + c.all);
    const SessionLanguage language(c.language, c.all);
    GuiHarness gui(service());
    gui.open({gui.writePhoto("one.jpg", {.width = 800, .height = 600})});
    ASSERT_TRUE(gui.waitUntilPrepared());
    checkUnique(windowTexts(gui.window()));
    gui.signIn(kUser, kPassword);
    checkUnique(windowTexts(gui.window()));
    checkUnique({{gui::tr("&Restore"), true}, {gui::tr("&Discard"), true}});
    checkUnique({{gui::tr("&Discard"), true}, {gui::tr("&Keep Editing"), true}});
    gui.sim_->stop();
  }
}

// After a cancel the sheet opens on OK, the safe choice, and Return presses it: the work stays in
// the window and nothing is posted again.
TEST(MarigoldGuiTest, ReturnAfterACancelKeepsTheWorkAndPostsNothing) {
  sim::SimOptions options = service();
  options.faults.slowPostRate = 64 * 1024;
  GuiHarness gui(std::move(options));
  gui.open({gui.writePhoto("big.jpg", {.width = 1200, .height = 900, .orientation = 1})});
  QApplication::setActiveWindow(&gui.window());
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "Kept");
  gui.click(gui.window().postButton());
  auto* sheet = gui.window().sheet();
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(GuiHarness::waitFor([&] {
    const auto& upload = gui.window().upload();
    return upload && upload->phase != pane::UploadProgress::Phase::kContacting;
  }));
  ASSERT_NE(gui.sheetButton("Cancel"), nullptr);  // the sheet's own, during the upload
  gui.click(gui.sheetButton("Cancel"));
  ASSERT_EQ(gui.waitForOutcome(), sheet);
  QPushButton* ok = gui.sheetButton("OK");
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(gui.sheetButton("Try Again"), nullptr);
  EXPECT_EQ(gui.window().focusWidget(), ok);

  QTest::keyClick(gui.window().focusWidget(), Qt::Key_Return);
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().sheet() == nullptr; }, 5));
  QTest::qWait(300);  // a second upload would have put its sheet up by now
  EXPECT_EQ(gui.window().sheet(), nullptr);
  EXPECT_TRUE(gui.window().isVisible());
  EXPECT_EQ(gui.widget<QLineEdit>("plinthCaptions")->text(), "Kept");
  EXPECT_TRUE(gui.window().postButton()->isEnabled());
  gui.sim_->stop();
  EXPECT_TRUE(gui.storedPhotos().empty());
}

// A refused post leaves the window as it was; "Try Again" posts the same photos with the same
// caption, and the service stores the post once. After it went through, "View Post" asks for the
// post's address and "Close" ends the run.
TEST(MarigoldGuiTest, TryAgainAfterARefusedPostPostsTheSameWorkOnce) {
  sim::SimOptions options = service();
  options.faults.postStatus = 500;
  options.faults.postStatusOnce = true;
  GuiHarness gui(std::move(options));
  const std::vector<std::string> photos = {MARIGOLD_EXAMPLES_PATH "/harbour.jpg",
                                           MARIGOLD_EXAMPLES_PATH "/meadow.jpg"};
  gui.open(photos);
  gui.signIn(kUser, kPassword);
  gui.choose("plinthSelect", 1);
  gui.type("plinthCaptions", "Harbour & meadow");
  gui.type("plinthTags", "sea, grass");
  const std::vector<std::string> prepared = handedOver(gui);
  gui.click(gui.window().postButton());
  ASSERT_NE(gui.waitForOutcome(), nullptr);
  ASSERT_NE(gui.sheetButton("OK"), nullptr);
  ASSERT_NE(gui.sheetButton("Try Again"), nullptr);
  EXPECT_EQ(gui.window().focusWidget(), gui.sheetButton("OK"));
  EXPECT_TRUE(gui.storedPhotos().empty());

  // Try Again when chosen: Tab moves the focus to it, and Return presses the focused button.
  QTest::keyClick(gui.window().focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(gui.window().focusWidget(), gui.sheetButton("Try Again"));
  QTest::keyClick(gui.window().focusWidget(), Qt::Key_Return);
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.sheetButton("View Post") != nullptr; }));
  EXPECT_EQ(gui.window().focusWidget(), gui.sheetButton("Close"));
  EXPECT_TRUE(gui.window().isVisible());
  const auto stored = gui.storedPhotos();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(stored[0] == prepared);
  const sim::StoredPost post = gui.sim_->state().posts()[0];
  EXPECT_EQ(post.blog, "ada-travel");
  const std::vector<std::pair<std::string, std::string>> wanted = {
      {"type", "photo"}, {"caption", "Harbour & meadow"}, {"tags", "sea, grass"}};
  for (const auto& field : wanted) {
    EXPECT_NE(std::find(post.fields.begin(), post.fields.end(), field), post.fields.end())
        << field.first;
  }

  gui.click(gui.sheetButton("View Post"));
  ASSERT_EQ(gui.openedUrls().size(), 1u);
  EXPECT_EQ(gui.openedUrls()[0].toString().toStdString(),
            "http://ada-travel.plinth.example/post/" + std::to_string(post.id));
  gui.click(gui.sheetButton("Close"));
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !gui.window().isVisible(); }, 5));
}

// What the user typed stays through a selection over the limit (the fields disabled and the
// notice shown, readable on light and dark themes) and back.
TEST(MarigoldGuiTest, TypedTextSurvivesGoingOverTheLimitAndBack) {
  GuiHarness gui(service());
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "Dusk");
  gui.type("plinthTags", "evening");
  gui.type("plinthClickthrough", "https://example.org/dusk");
  auto* caption = gui.widget<QLineEdit>("plinthCaptions");
  auto* tags = gui.widget<QLineEdit>("plinthTags");
  auto* link = gui.widget<QLineEdit>("plinthClickthrough");

  QStringList more;
  for (int i = 0; i < 10; ++i) {
    more << QString::fromStdString(gui.writePhoto("more" + std::to_string(i) + ".jpg",
                                                  {.width = 64, .height = 48, .orientation = 1}));
  }
  gui.window().addPhotos(more);
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_FALSE(caption->isEnabled());
  EXPECT_EQ(caption->text(), "Dusk");
  EXPECT_EQ(tags->text(), "evening");
  // The pane's notice in the link field is its placeholder and description, not a link.
  EXPECT_EQ(link->text(), "");
  EXPECT_EQ(link->placeholderText(), "Click through is not available for photo sets");
  EXPECT_TRUE(gui.window().sizeLine()->text().startsWith("11 photos · "));
  auto* notice = gui.widget<QLabel>("notificationField");
  ASSERT_TRUE(notice->isVisible());
  for (const QColor background : {QColor(Qt::white), QColor(0x20, 0x20, 0x20)}) {
    QPalette theme = QApplication::palette();
    theme.setColor(QPalette::Window, background);
    theme.setColor(QPalette::WindowText, background.lightness() > 128 ? Qt::black : Qt::white);
    gui.window().pane()->setPalette(theme);
    EXPECT_GE(gui::PaneWidget::contrast(notice->palette().color(QPalette::WindowText), background),
              4.5);
  }

  gui.window().removePhotos({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_TRUE(caption->isEnabled());
  EXPECT_EQ(caption->text(), "Dusk");
  EXPECT_EQ(tags->text(), "evening");
  EXPECT_EQ(link->text(), "https://example.org/dusk");
  EXPECT_TRUE(gui.window().postButton()->isEnabled());
}

// "Log In" asks for both a user name and a password; the blog and state chosen last are chosen
// again in the next window once its sign-in lists them.
TEST(MarigoldGuiTest, LogInNeedsBothFieldsAndTheLastBlogAndStateAreRemembered) {
  GuiHarness gui(service());
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  auto* logIn = gui.widget<QPushButton>("loginButton");
  auto* password = gui.widget<QLineEdit>("plinthPassword");
  EXPECT_FALSE(logIn->isEnabled());
  gui.type("plinthUsername", kUser);
  EXPECT_FALSE(logIn->isEnabled());
  QTest::keyClick(password, Qt::Key_Return);  // nothing to sign in with
  EXPECT_EQ(gui.window().sheet(), nullptr);
  EXPECT_EQ(logIn->text().remove('&'), "Log In");
  gui.type("plinthPassword", kPassword);
  EXPECT_TRUE(logIn->isEnabled());
  gui.click(logIn);
  ASSERT_EQ(logIn->text().remove('&'), "Log Out");
  EXPECT_TRUE(logIn->isEnabled());  // signing out needs nothing typed
  auto* states = gui.widget<QComboBox>("plinthStatus");
  ASSERT_GE(states->count(), 2);
  gui.choose("plinthSelect", 1);
  gui.choose("plinthStatus", 1);
  const QString blog = gui.widget<QComboBox>("plinthSelect")->currentText();
  const QString state = states->currentText();
  EXPECT_TRUE(blog.startsWith("ada-travel")) << blog.toStdString();

  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  EXPECT_EQ(gui.widget<QComboBox>("plinthSelect")->currentText(), blog);
  EXPECT_EQ(gui.widget<QComboBox>("plinthStatus")->currentText(), state);
  gui.click(gui.window().postButton());
  ASSERT_NE(gui.waitForOutcome(), nullptr);
  EXPECT_EQ(gui.sim_->state().posts().at(0).blog, "ada-travel");

  // The state is kept by what it is, not by the words its menu showed: a window in German
  // chooses the same state again.
  const SessionLanguage german("de", "C.UTF-8");
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  EXPECT_EQ(gui.widget<QComboBox>("plinthStatus")->currentText().toStdString(), "Entwurf");
}

// "Remember me" decides whether the password is kept on disk; the user name always is.
TEST(MarigoldGuiTest, PasswordIsKeptOnDiskOnlyWithRememberMe) {
  for (const bool remember : {false, true}) {
    SCOPED_TRACE(remember ? "remembered" : "not remembered");
    GuiHarness gui(service());
    gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
    if (remember) gui.widget<QCheckBox>("plinthRememberMe")->click();
    gui.signIn(kUser, kPassword);
    ASSERT_EQ(gui.widget<QPushButton>("loginButton")->text().remove('&'), "Log Out");
    const AppSettings saved{SettingsFile(SettingsFile::defaultFolder())};  // the temporary home's
    EXPECT_EQ(saved.email(), kUser);
    EXPECT_EQ(saved.UID(), remember ? kPassword : "");
    EXPECT_EQ(saved.saveUID(), remember);
  }
}

// A user name saved without its password (kept in a keyring this session cannot reach, or not at
// all) opens the window signed out, without an alert, ready for the password to be typed.
TEST(MarigoldGuiTest, SavedNameWithoutPasswordWaitsForThePassword) {
  GuiHarness gui(service());
  {
    AppSettings saved{SettingsFile(SettingsFile::defaultFolder())};  // the temporary home's
    saved.setEmail(kUser);
    saved.setSaveUID(true);
    saved.setIsValid(true);
    ASSERT_TRUE(saved.refresh());
  }
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  QApplication::setActiveWindow(&gui.window());
  EXPECT_EQ(gui.window().sheet(), nullptr);
  EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text().remove('&'), "Log In");
  EXPECT_EQ(gui.widget<QLineEdit>("plinthUsername")->text(), kUser);
  EXPECT_EQ(gui.window().focusWidget(), gui.widget<QLineEdit>("plinthPassword"));
}

// A sign-in that gets no answer keeps the window live: events go on being handled, a sheet says
// what is happening, and its Cancel ends the wait with the sign-in failed and the fields usable.
TEST(MarigoldGuiTest, StalledSignInIsCancelledFromTheWindow) {
  sim::SimOptions options = service();
  options.faults.stall = sim::StallTarget::kToken;
  GuiHarness gui(std::move(options));
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  int ticks = 0;
  int ticksWhenSheetCame = -1;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    ++ticks;
    auto* sheet = gui.window().sheet();
    if (ticksWhenSheetCame < 0 && sheet != nullptr &&
        sheet->findChild<QLabel*>("message")->text() == "Signing in...") {
      ticksWhenSheetCame = ticks;
    }
    // A few more events handled while the sheet is up, then the user gives up.
    if (ticksWhenSheetCame >= 0 && ticks == ticksWhenSheetCame + 5) {
      gui.sheetButton("Cancel")->click();
    }
  });
  ticker.start(10);
  gui.signIn(kUser, kPassword);  // returns once the wait has ended
  ticker.stop();

  EXPECT_GE(ticksWhenSheetCame, 1);
  EXPECT_GE(ticks, ticksWhenSheetCame + 5);
  auto* sheet = gui.waitForOutcome();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->findChild<QLabel*>("message")->text(), "Sign-in cancelled.");
  EXPECT_TRUE(
      sheet->findChild<QLabel*>("informative")->text().startsWith("The sign-in was cancelled"));
  gui.click(gui.sheetButton("OK"));
  EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text().remove('&'), "Log In");
  EXPECT_TRUE(gui.widget<QLineEdit>("plinthPassword")->isEnabled());
  EXPECT_FALSE(gui.window().postButton()->isEnabled());
}

// Screen readers: every control carries its label's words as its name, the photo list and the
// preview are named, and sheets are alerts.
TEST(MarigoldGuiTest, ControlsCarryTheirLabelsAsAccessibleNames) {
  GuiHarness gui(service());
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  auto name = [](QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
  };
  int labelled = 0;
  for (auto* label : gui.window().findChildren<QLabel*>()) {
    if (label->buddy() == nullptr) continue;
    ++labelled;
    QString words = label->text().remove('&');
    if (words.endsWith(':')) words.chop(1);
    EXPECT_EQ(label->buddy()->accessibleName(), words);
    // Qt's menus on Linux answer their chosen item as the name and their label through the
    // labelling relation, as screen readers there expect.
    if (!label->buddy()->inherits("QComboBox")) {
      EXPECT_EQ(name(label->buddy()), words) << words.toStdString();
    }
  }
  EXPECT_EQ(labelled, 9);  // seven fields and menus of the pane, the photo list and the size
  for (QWidget* input : gui.window().findChildren<QWidget*>()) {
    if (!input->inherits("QLineEdit") && !input->inherits("QComboBox") &&
        !input->inherits("QAbstractButton") && !input->inherits("QListWidget")) {
      continue;
    }
    EXPECT_FALSE(name(input).isEmpty()) << input->objectName().toStdString();
  }
  EXPECT_EQ(name(gui.window().thumbnails()), "Photos to post");
  EXPECT_EQ(name(gui.window().pane()->widgetFor("imagePreview")), "Preview of the first photo");
  auto role = [](QWidget* widget) { return QAccessible::queryAccessibleInterface(widget)->role(); };
  EXPECT_EQ(role(&gui.window()), QAccessible::Dialog);
  EXPECT_EQ(role(gui.window().pane()->widgetFor("imagePreview")), QAccessible::Graphic);
  // For a photo set the link's notice is read as its description, not as what the field holds.
  gui.window().addPhotos({MARIGOLD_EXAMPLES_PATH "/meadow.jpg"});
  ASSERT_TRUE(gui.waitUntilPrepared());
  QAccessibleInterface* link =
      QAccessible::queryAccessibleInterface(gui.window().pane()->widgetFor("plinthClickthrough"));
  EXPECT_EQ(link->text(QAccessible::Value), "");
  EXPECT_EQ(link->text(QAccessible::Description), "Click through is not available for photo sets");

  gui.signIn(kUser, "wrong");
  auto* sheet = gui.waitForOutcome();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(sheet)->role(), QAccessible::AlertMessage);
  EXPECT_EQ(name(sheet), "There was a problem logging in.");
}

// The keyboard alone: the focus starts in the empty user name, Return in the password signs in
// and moves on to the caption, Return there posts nothing, a sheet takes Return and Escape, and
// Escape closes the window.
TEST(MarigoldGuiTest, WorksFromTheKeyboard) {
  GuiHarness gui(service());
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg", MARIGOLD_EXAMPLES_PATH "/meadow.jpg"});
  QApplication::setActiveWindow(&gui.window());
  auto* user = gui.widget<QLineEdit>("plinthUsername");
  EXPECT_EQ(gui.window().focusWidget(), user);
  QTest::keyClicks(user, kUser);
  QTest::keyClick(user, Qt::Key_Tab);
  auto* password = gui.widget<QLineEdit>("plinthPassword");
  ASSERT_EQ(gui.window().focusWidget(), password);
  QTest::keyClicks(password, kPassword);
  QTest::keyClick(password, Qt::Key_Return);
  EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text().remove('&'), "Log Out");
  auto* caption = gui.widget<QLineEdit>("plinthCaptions");
  EXPECT_EQ(gui.window().focusWidget(), caption);
  QTest::keyClick(caption, Qt::Key_Return);
  EXPECT_EQ(gui.window().sheet(), nullptr);

  // Delete removes the selected photo.
  gui.window().thumbnails()->setFocus();
  gui.window().thumbnails()->setCurrentRow(1);
  QTest::keyClick(gui.window().thumbnails(), Qt::Key_Delete);
  EXPECT_EQ(gui.window().selection().size(), 1u);
  ASSERT_TRUE(gui.waitUntilPrepared());

  gui.click(gui.widget<QPushButton>("loginButton"));  // signs out
  gui.click(gui.window().postButton());               // disabled: nothing happens
  EXPECT_EQ(gui.window().sheet(), nullptr);
  gui.signIn(kUser, "wrong");
  auto* sheet = gui.waitForOutcome();
  ASSERT_NE(sheet, nullptr);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_TRUE(GuiHarness::waitFor([&] { return gui.window().sheet() == nullptr; }, 5));
  QTest::keyClick(gui.window().focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(gui.window().isVisible());
}

// Reordering by keyboard: Ctrl+Right and Ctrl+Left move the selected photo, as the Move buttons
// do, and the post follows. Tab goes as the window reads: the photos column from the top, then the
// pane, then Post and Cancel.
TEST(MarigoldGuiTest, KeyboardMovesPhotosAndTabFollowsTheScreen) {
  GuiHarness gui(service());
  const std::vector<std::string> photos = threeSamples();
  gui.open(photos);
  QApplication::setActiveWindow(&gui.window());
  gui.signIn(kUser, kPassword);
  auto* list = gui.window().thumbnails();
  list->setFocus();
  list->setCurrentRow(0);
  QTest::keyClick(list, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(gui.window().selection(), (std::vector<std::string>{photos[1], photos[0], photos[2]}));
  EXPECT_EQ(list->currentRow(), 1);  // the moved photo stays selected
  QTest::keyClick(list, Qt::Key_Right, Qt::ControlModifier);
  QTest::keyClick(list, Qt::Key_Right, Qt::ControlModifier);  // already last: stays
  EXPECT_EQ(gui.window().selection(), (std::vector<std::string>{photos[1], photos[2], photos[0]}));
  auto* later = gui.window().findChild<QPushButton*>("moveLater");
  auto* earlier = gui.window().findChild<QPushButton*>("moveEarlier");
  ASSERT_NE(later, nullptr);
  ASSERT_NE(earlier, nullptr);
  EXPECT_FALSE(later->isEnabled());
  gui.click(earlier);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(gui.window().selection(), (std::vector<std::string>{photos[0], photos[1], photos[2]}));
  EXPECT_TRUE(list->item(0)->text().endsWith("shown first"));
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(gui.window().prepared()->result.photos.at(0).source, photos[0]);

  // Tab from the photo list around the window, back to the list.
  std::vector<QWidget*> visited = {list};
  list->setFocus();
  for (int i = 0; i < 40; ++i) {
    QTest::keyClick(gui.window().focusWidget(), Qt::Key_Tab);
    if (gui.window().focusWidget() == list) break;
    visited.push_back(gui.window().focusWidget());
  }
  ASSERT_EQ(gui.window().focusWidget(), list);
  auto part = [&](QWidget* widget) {
    if (gui.window().pane()->isAncestorOf(widget)) return 1;
    if (widget == gui.window().postButton() || widget == gui.window().cancelButton()) return 2;
    return 0;
  };
  for (std::size_t i = 1; i < visited.size(); ++i) {
    EXPECT_LE(part(visited[i - 1]), part(visited[i])) << visited[i]->objectName().toStdString();
    if (part(visited[i - 1]) != part(visited[i])) continue;
    // Within a part, down the screen (a row from the left).
    const QPoint a = visited[i - 1]->mapTo(&gui.window(), QPoint());
    const QPoint b = visited[i]->mapTo(&gui.window(), QPoint());
    const int aMiddle = a.y() + visited[i - 1]->height() / 2;
    const int bMiddle = b.y() + visited[i]->height() / 2;
    const bool sameRow = std::abs(aMiddle - bMiddle) < 12;
    EXPECT_TRUE(sameRow ? a.x() < b.x() : aMiddle < bMiddle)
        << visited[i - 1]->objectName().toStdString() << " before "
        << visited[i]->objectName().toStdString();
  }
  EXPECT_EQ(part(visited.back()), 2);
  EXPECT_NE(std::find(visited.begin(), visited.end(), gui.window().postButton()), visited.end());
}

// Typed work is not thrown away unasked: Escape, Cancel and closing the window ask "Discard this
// post?", where Return keeps editing; after a post the window closes without asking.
TEST(MarigoldGuiTest, ClosingWithTypedWorkAsksToDiscardIt) {
  GuiHarness gui(service());
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  QApplication::setActiveWindow(&gui.window());
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "Draft");
  auto question = [&] { return gui.window().findChild<QMessageBox*>("discardQuestion"); };
  struct Way {
    const char* name;
    std::function<void()> close;
  };
  const Way ways[] = {
      {"Escape", [&] { QTest::keyClick(gui.window().focusWidget(), Qt::Key_Escape); }},
      {"Cancel", [&] { gui.click(gui.window().cancelButton()); }},
      {"the window's close", [&] { gui.window().close(); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    way.close();
    ASSERT_TRUE(GuiHarness::waitFor([&] { return question() && question()->isVisible(); }, 5));
    EXPECT_EQ(question()->text(), "Discard this post?");
    EXPECT_TRUE(gui.window().isVisible());
    QTest::keyClick(question(), Qt::Key_Return);  // Keep Editing, the safe choice
    ASSERT_TRUE(GuiHarness::waitFor([&] { return question() == nullptr; }, 5));
    EXPECT_TRUE(gui.window().isVisible());
    EXPECT_EQ(gui.widget<QLineEdit>("plinthCaptions")->text(), "Draft");
  }
  gui.click(gui.window().cancelButton());
  ASSERT_TRUE(GuiHarness::waitFor([&] { return question() && question()->isVisible(); }, 5));
  QPushButton* discard = nullptr;
  for (QAbstractButton* button : question()->buttons()) {
    if (button->text().remove('&') == "Discard") discard = qobject_cast<QPushButton*>(button);
  }
  ASSERT_NE(discard, nullptr);
  gui.click(discard);
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !gui.window().isVisible(); }, 5));

  // Posted: the caption is in the post, and Close ends the window without a question.
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "Posted");
  gui.click(gui.window().postButton());
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.sheetButton("Close") != nullptr; }));
  gui.click(gui.sheetButton("Close"));
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !gui.window().isVisible(); }, 5));
  EXPECT_EQ(question(), nullptr);
}

// The value of a form field of a stored post; empty when it has none.
std::string fieldOf(const sim::StoredPost& post, const std::string& name) {
  for (const auto& [key, value] : post.fields) {
    if (key == name) return value;
  }
  return {};
}

// The button of a question box whose title (without its mnemonic) is `title`.
QPushButton* questionButton(QMessageBox* box, const QString& title) {
  for (QAbstractButton* button : box != nullptr ? box->buttons() : QList<QAbstractButton*>()) {
    if (button->text().remove('&') == title) return qobject_cast<QPushButton*>(button);
  }
  return nullptr;
}

// Names from outside (files, the service's words) are shown as written, never as markup: a
// photo in a folder named "<h1>Win<" (its path reads ".../<h1>Win</h1>.jpg") and a broken one
// named with tags are shown literally in the list's tips, the problem line and the sheets.
TEST(MarigoldGuiTest, OutsideTextIsShownAsWrittenNotAsMarkup) {
  GuiHarness gui(service());
  std::filesystem::create_directory(gui.home_.path() / "<h1>Win<");
  const std::string tagged = (gui.home_.path() / "<h1>Win</h1>.jpg").string();
  std::filesystem::copy_file(MARIGOLD_EXAMPLES_PATH "/dusk.jpg", tagged);
  const std::string broken = gui.writeFile("<b>Broken &amp; gone<b>.jpg", 4096, 'x');
  std::fstream(broken, std::ios::in | std::ios::out | std::ios::binary) << "\xFF\xD8\xFF\xE0";
  gui.open({tagged, broken});
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }));
  ASSERT_TRUE(gui.waitUntilPrepared());
  // What a tip shows is its rendering: the path, tags and all.
  auto shownTip = [](const QListWidgetItem* item) {
    QTextDocument tip;
    if (Qt::mightBeRichText(item->toolTip())) {
      tip.setHtml(item->toolTip());
    } else {
      tip.setPlainText(item->toolTip());
    }
    return tip.toPlainText();
  };
  EXPECT_TRUE(
      shownTip(gui.window().thumbnails()->item(0)).startsWith(QString::fromStdString(tagged)))
      << shownTip(gui.window().thumbnails()->item(0)).toStdString();
  EXPECT_TRUE(
      shownTip(gui.window().thumbnails()->item(1)).startsWith(QString::fromStdString(broken)));
  QLabel* problems = gui.window().problemLine();
  EXPECT_EQ(problems->textFormat(), Qt::PlainText);
  EXPECT_TRUE(problems->text().startsWith("<b>Broken &amp; gone<b>.jpg cannot be decoded"))
      << problems->text().toStdString();
  // Every label of the window and its sheets that shows such words reads them as plain text.
  for (QLabel* label : {gui.window().sizeLine(), problems}) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  }
}

// A termination request (a session's logout) ends the window with typed work at once, asking
// nothing; the work is kept privately and offered by the next window, which posts it as it was;
// a post that went through, or work discarded, leaves no draft behind.
TEST(MarigoldGuiTest, SignalEndsTheWindowAndTheTypedPostIsRestoredNextTime) {
  GuiHarness gui(service());
  const std::vector<std::string> photos = {MARIGOLD_EXAMPLES_PATH "/meadow.jpg",
                                           MARIGOLD_EXAMPLES_PATH "/dusk.jpg"};
  gui.open(photos);
  gui.signIn(kUser, kPassword);
  gui.choose("plinthSelect", 1);  // ada-travel
  gui.choose("plinthStatus", 1);  // Draft
  gui.type("plinthCaptions", "Harbour at <b>dusk</b>");
  gui.type("plinthTags", "sea, evening");
  const std::filesystem::path draft = gui.home_.path() / ".local/state/marigold/draft.plist";
  {
    // As the program has it, with a loop of the test's own in place of the application's.
    QEventLoop loop;
    const gui::EndOnSignal ending([&] {
      gui.window().endKeepingDraft();
      loop.exit(0);
    });
    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    // The loop is left by the signal; the bound only keeps a window that never ends from
    // holding the test up.
    QTimer::singleShot(10000, &loop, [&] { loop.exit(1); });
    EXPECT_EQ(loop.exec(), 0);
  }
  EXPECT_FALSE(gui.window().isVisible());
  EXPECT_EQ(gui.window().discardQuestion(), nullptr);
  ASSERT_TRUE(std::filesystem::exists(draft));
  EXPECT_EQ(std::filesystem::status(draft).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(
      std::filesystem::status(draft.parent_path()).permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_all);
  EXPECT_EQ(fileBytes(draft).find(kPassword), std::string::npos);

  // The next window, opened with another photo, offers it; Restore puts it all back.
  gui.open({MARIGOLD_EXAMPLES_PATH "/harbour.jpg"});
  auto question = [&] { return qobject_cast<QMessageBox*>(gui.window().draftQuestion()); };
  ASSERT_TRUE(GuiHarness::waitFor([&] { return question() && question()->isVisible(); }, 5));
  EXPECT_EQ(question()->text(), "Restore the post you were writing?");
  EXPECT_EQ(question()->accessibleName(), "Restore the post you were writing?");
  gui.click(questionButton(question(), "Restore"));
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(
      gui.window().selection(),
      (std::vector<std::string>{photos[0], photos[1], MARIGOLD_EXAMPLES_PATH "/harbour.jpg"}));
  EXPECT_EQ(gui.widget<QLineEdit>("plinthCaptions")->text(), "Harbour at <b>dusk</b>");
  EXPECT_EQ(gui.widget<QLineEdit>("plinthTags")->text(), "sea, evening");
  gui.choose("plinthSelect", 0);  // the window's kept choice, which the draft's overrides
  gui.signIn(kUser, kPassword);
  EXPECT_TRUE(gui.widget<QComboBox>("plinthSelect")->currentText().startsWith("ada-travel"));
  EXPECT_EQ(gui.widget<QComboBox>("plinthStatus")->currentText(), "Draft");
  gui.click(gui.window().postButton());
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.sheetButton("Close") != nullptr; }));
  const auto posts = gui.sim_->state().posts();
  ASSERT_EQ(posts.size(), 1u);
  const auto& posted = posts.back();
  EXPECT_EQ(posted.blog, "ada-travel");
  EXPECT_EQ(fieldOf(posted, "caption"), "Harbour at <b>dusk</b>");
  EXPECT_EQ(fieldOf(posted, "state"), "draft");
  EXPECT_EQ(posted.photos.size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(draft));  // sent: nothing left to restore

  // Discarded, by the closing question or by the offer, leaves none either.
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "Gone");
  gui.window().endKeepingDraft();
  ASSERT_TRUE(std::filesystem::exists(draft));
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  ASSERT_TRUE(GuiHarness::waitFor([&] { return question() && question()->isVisible(); }, 5));
  gui.click(questionButton(question(), "Discard"));
  EXPECT_FALSE(std::filesystem::exists(draft));
  EXPECT_EQ(gui.widget<QLineEdit>("plinthCaptions")->text(), "");
  gui.signIn(kUser, kPassword);
  gui.type("plinthCaptions", "Gone again");
  gui.window().endKeepingDraft();
  gui.open({MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  ASSERT_TRUE(GuiHarness::waitFor([&] { return question() && question()->isVisible(); }, 5));
  gui.click(questionButton(question(), "Restore"));
  gui.window().close();
  auto* discardQuestion = qobject_cast<QMessageBox*>(gui.window().discardQuestion());
  ASSERT_TRUE(GuiHarness::waitFor([&] { return discardQuestion && discardQuestion->isVisible(); }));
  EXPECT_EQ(discardQuestion->accessibleName(), "Discard this post?");
  gui.click(questionButton(discardQuestion, "Discard"));
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !gui.window().isVisible(); }, 5));
  EXPECT_FALSE(std::filesystem::exists(draft));
}

// Ends a stopped simulator process's stop, so that it can be ended.
struct Resumed {
  pid_t pid;
  ~Resumed() { ::kill(pid, SIGCONT); }
};

// A service that stops answering during the upload (its process stopped, as a host that went
// away): within seconds the sheet says so and how long it has been, the time left becomes
// "stalled", and Cancel still ends the upload.
TEST(MarigoldGuiTest, UploadToAServiceThatStoppedSaysItStalled) {
  GuiHarness gui(service());
  host::SimulatorProcess stopping(
      host::defaultSimulatorPath(),
      {"--account", std::string(kUser) + ":" + kPassword + ":ada-photos", "--slow-post", "262144",
       "--data", (gui.home_.path() / "stopping").string()});
  gui.open(
      {gui.writePhoto("big.jpg", {.width = 3000, .height = 2000, .orientation = 1, .quality = 96})},
      host::PluginSetup{.service = {.authBase = stopping.authBase(),
                                    .apiBase = stopping.apiBase(),
                                    .trustedAuthorityFile = stopping.caFile(),
                                    .configurationHome = gui.home_.path().string()},
                        .useDesktopKeyring = false});
  gui.choose(controls(gui).sizeMenu(), 1);  // Original: megabytes, more than the buffers hold
  ASSERT_TRUE(gui.waitUntilPrepared());
  gui.signIn(kUser, kPassword);
  gui.click(gui.window().postButton());
  ASSERT_TRUE(GuiHarness::waitFor([&] {
    const auto& upload = gui.window().upload();
    return upload && upload->phase == pane::UploadProgress::Phase::kSending &&
           upload->photoBytesSent > 0;
  }));
  ASSERT_EQ(::kill(stopping.pid(), SIGSTOP), 0);
  const Resumed resumed{stopping.pid()};
  auto* sheet = gui.window().sheet();
  ASSERT_NE(sheet, nullptr);
  auto* informative = sheet->findChild<QLabel*>("informative");
  auto* line = sheet->findChild<QLabel*>("detail");
  static const QRegularExpression stalledFor("^No reply from Plinth for ([0-9]+) s$");
  ASSERT_TRUE(GuiHarness::waitFor([&] { return stalledFor.match(informative->text()).hasMatch(); },
                                  12 + 10))
      << informative->text().toStdString();
  EXPECT_GE(stalledFor.match(informative->text()).captured(1).toInt(), 10);
  static const QRegularExpression stalledLine("^[0-9.]+ [KM]B of [0-9.]+ [KM]B sent, stalled$");
  EXPECT_TRUE(stalledLine.match(line->text()).hasMatch()) << line->text().toStdString();
  EXPECT_EQ(sheet->findChild<QLabel*>("message")->text(), "Posting 1 photo to Plinth");
  // The count goes on by the clock while nothing arrives.
  const int first = stalledFor.match(informative->text()).captured(1).toInt();
  EXPECT_TRUE(GuiHarness::waitFor(
      [&] { return stalledFor.match(informative->text()).captured(1).toInt() > first; }, 5));
  QPushButton* cancel = gui.sheetButton("Cancel");
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(cancel->isEnabled());
  gui.click(cancel);
  EXPECT_EQ(sheet->findChild<QLabel*>("message")->text(), "The post was cancelled.");
  EXPECT_TRUE(informative->text().isEmpty() || !stalledFor.match(informative->text()).hasMatch());
}

// Dragging a photo to the front reorders the post: the service stores the photos in the new
// order, and the list marks the new first photo.
TEST(MarigoldGuiTest, ReorderingChangesTheOrderOfThePost) {
  GuiHarness gui(service());
  const std::vector<std::string> photos = threeSamples();
  gui.open(photos);
  gui.signIn(kUser, kPassword);
  // A photo set has no link, also after a sign-in enabled the other fields.
  EXPECT_FALSE(gui.widget<QLineEdit>("plinthClickthrough")->isEnabled());
  auto* list = gui.window().thumbnails();
  // What the list's drop does with an internal move.
  ASSERT_TRUE(list->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().selection()[0] == photos[2]; }, 5));
  EXPECT_TRUE(list->item(0)->text().endsWith("shown first"));
  EXPECT_FALSE(list->item(1)->text().contains("shown first"));
  ASSERT_TRUE(gui.waitUntilPrepared());
  // The plug-in reads the prepared photos in the new order.
  const auto& result = gui.window().prepared()->result;
  ASSERT_EQ(result.photos.size(), 3u);
  EXPECT_EQ(result.photos[0].source, photos[2]);
  EXPECT_EQ(result.photos[1].source, photos[0]);
  EXPECT_EQ(result.photos[2].source, photos[1]);
  const std::vector<std::string> prepared = handedOver(gui);

  gui.click(gui.window().postButton());
  ASSERT_NE(gui.waitForOutcome(), nullptr);
  const auto stored = gui.storedPhotos();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_TRUE(stored[0] == prepared);
}

// A photo as a camera makes it (6000x4000, stored sideways with orientation 6, a GPS position and
// the camera's serial): the size line counts what will be sent and follows the choices, and what
// the service stores fits the limit, upright, without the serial. The original is untouched.
TEST(MarigoldGuiTest, CameraPhotoIsPostedUprightWithinTheLimit) {
  GuiHarness gui(service());
  const std::string camera = gui.writePhoto("IMG_0001.jpg", {});
  const std::string original = fileBytes(camera);
  ASSERT_GT(original.size(), kLimit);
  gui.open({camera});
  ASSERT_TRUE(gui.window().preparationReady());
  static const QRegularExpression line("^1 photo · ([0-9.]+) MB of 5 MB · at most 10$");
  const QString fitLine = gui.window().sizeLine()->text();
  const auto match = line.match(fitLine);
  ASSERT_TRUE(match.hasMatch()) << fitLine.toStdString();
  EXPECT_LE(match.captured(1).toDouble(), 5.0);
  EXPECT_GT(match.captured(1).toDouble(), 2.0);  // Fit uses the room there is

  gui.signIn(kUser, kPassword);
  gui.click(gui.window().postButton());
  ASSERT_NE(gui.waitForOutcome(60), nullptr);
  const auto stored = gui.storedPhotos();
  ASSERT_EQ(stored.size(), 1u);
  ASSERT_EQ(stored[0].size(), 1u);
  const std::string& sent = stored[0][0];
  EXPECT_LE(sent.size(), kLimit);
  EXPECT_EQ(sent.find(testing::kCameraSerial), std::string::npos);
  const auto sentFile = gui.home_.path() / "sent.jpg";
  std::ofstream(sentFile, std::ios::binary) << sent;
  // Upright: taller than wide, nothing left to turn, the red band at the top.
  QImageReader reader(QString::fromStdString(sentFile.string()));
  const QSize size = reader.size();
  EXPECT_LT(size.width(), size.height());
  EXPECT_GE(size.height(), 2048);
  EXPECT_EQ(reader.transformation(), QImageIOHandler::TransformationNone);
  const testing::Rgb top = testing::pixelAt(sentFile, size.width() / 2, 2);
  const testing::Rgb bottom = testing::pixelAt(sentFile, size.width() / 2, size.height() - 3);
  EXPECT_GT(top.r, 150);
  EXPECT_LT(top.g, 80);
  EXPECT_GT(bottom.g, 100);  // the grey of the picture
  EXPECT_TRUE(fileBytes(camera) == original);
}

// Changes while the photos are being prepared: only the newest selection with the newest choices
// (here 1024 px, details kept) reaches the plug-in and the size line, what older preparations
// made is gone, and closing the window part-way stops the work.
TEST(MarigoldGuiTest, OnlyTheNewestPreparationReachesThePlugIn) {
  GuiHarness gui(service());
  const std::string camera = gui.writePhoto("camera.jpg", {.width = 3000, .height = 2000});
  const std::string small = gui.writePhoto("small.jpg");
  gui.open({});
  gui.window().addPhotos({QString::fromStdString(camera), QString::fromStdString(small)});
  EXPECT_FALSE(gui.window().preparationReady());
  EXPECT_EQ(gui.window().sizeLine()->text(), "Preparing 1 of 2…");
  gui.choose(controls(gui).sizeMenu(), 4);
  EXPECT_EQ(controls(gui).sizeMenu()->currentText(), "1024 px");
  gui.click(controls(gui).locationBox());
  gui.window().removePhotos({1});
  ASSERT_TRUE(gui.waitUntilPrepared());

  const auto& prepared = *gui.window().prepared();
  ASSERT_EQ(prepared.result.photos.size(), 1u);
  EXPECT_EQ(prepared.result.photos[0].source, camera);
  EXPECT_EQ(prepared.result.photos[0].longEdge(), 1024);
  ASSERT_EQ(gui.session().exportManager().imageCount(), 1u);
  EXPECT_NE(handedOver(gui)[0].find(testing::kCameraSerial), std::string::npos);
  const QString line = gui.window().sizeLine()->text();
  EXPECT_TRUE(line.startsWith("1 photo · ") && line.endsWith(" KB of 5 MB · at most 10"))
      << line.toStdString();
  // Of the older preparations' folders none is left; beside the newest is only the one folder
  // where the window keeps prepared photos for the next change of the selection.
  std::vector<std::filesystem::path> folders;
  int kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(gui.session().scratch().path())) {
    if (entry.path().filename().string().starts_with("kept-")) {
      ++kept;
    } else {
      folders.push_back(entry.path());
    }
  }
  EXPECT_EQ(folders, std::vector<std::filesystem::path>{prepared.folder});
  EXPECT_EQ(kept, 1);

  gui.window().addPhotos({QString::fromStdString(small)});
  gui.window().close();
  EXPECT_FALSE(gui.window().isVisible());
}

// The next window starts with the photo size chosen last, and its first preparation already
// follows it; the details box starts checked again, so a location kept once is not sent again
// unnoticed.
TEST(MarigoldGuiTest, NextWindowStartsWithTheLastPhotoSizeAndRemovesDetailsAgain) {
  GuiHarness gui(service());
  const std::string camera = gui.writePhoto("camera.jpg", {.width = 3000, .height = 2000});
  gui.open({camera});
  EXPECT_EQ(controls(gui).sizeMenu()->currentText(), "Fit");
  EXPECT_TRUE(controls(gui).locationBox()->isChecked());
  gui.choose(controls(gui).sizeMenu(), 3);
  gui.click(controls(gui).locationBox());

  gui.open({camera});
  EXPECT_EQ(controls(gui).sizeMenu()->currentText(), "1280 px");
  EXPECT_TRUE(controls(gui).locationBox()->isChecked());
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(gui.window().prepared()->result.photos.at(0).longEdge(), 1280);
  EXPECT_EQ(handedOver(gui).at(0).find(testing::kCameraSerial), std::string::npos);
}

// What a shell command prints on standard output, and its exit status (-1 when it did not run).
std::pair<int, std::string> commandOutput(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  return {::pclose(pipe), output};
}

// `cmake --install` puts the program beside marigold with its desktop entry, icon, manual page and
// file-manager actions, and the installed program runs from there.
TEST(MarigoldGuiTest, InstallsWithItsDesktopEntryIconAndManual) {
  TemporaryHome home;
  const auto prefix = home.path() / "prefix";
  const std::string install = std::string("'") + CMAKE_COMMAND + "' --install '" +
                              MARIGOLD_BUILD_DIR + "' --prefix '" + prefix.string() +
                              "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0);
  for (const char* file :
       {"bin/marigold-gui", "share/applications/marigold-gui.desktop",
        "share/icons/hicolor/scalable/apps/marigold-gui.svg", "share/man/man1/marigold-gui.1.gz",
        "share/kio/servicemenus/marigold-post-to-plinth.desktop",
        "share/nemo/actions/marigold-post-to-plinth.nemo_action",
        "share/marigold/thunar-uca.xml"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / file)) << file;
  }
  const auto [status, output] =
      commandOutput("'" + (prefix / "bin/marigold-gui").string() + "' --help 2>&1");
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("--demo"), std::string::npos) << output;
}

// Qt's own words in --help (its headings, its own options) come in the language of the window's
// texts, from Qt's translations where they are installed.
TEST(MarigoldGuiTest, HelpReadsQtsOwnWordsInTheLanguage) {
  const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!QFile::exists(translations + "/qtbase_de.qm")) {
    GTEST_SKIP() << "Qt's German translations are not installed in " << translations.toStdString();
  }
  const std::string program = MARIGOLD_BUILD_DIR "/apps/marigold-gui/marigold-gui";
  struct Case {
    const char* language;
    const char* all;
    const char* heading;
  };
  const Case kCases[] = {{"de", "C.UTF-8", "\nOptionen:\n  -h, --help     Zeigt Hilfe"},
                         {"ko:de", "C.UTF-8", "\nOptionen:\n"},
                         {"de", "C", "\nOptions:\n  -h, --help     Displays help"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.language);
    const auto [status, output] =
        commandOutput(std::string("LANGUAGE=") + c.language + " LC_ALL=" + c.all + " '" + program +
                      "' --help 2>&1");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find(c.heading), std::string::npos) << output;
  }
}

// A photo rewritten behind the window with its size and time put back (as `cp -p` or `rsync -t`
// leave them) is prepared and drawn again when Post is pressed, never posted as it was.
TEST(MarigoldGuiTest, APhotoChangedBehindTheWindowIsPreparedAgainBeforeItIsPosted) {
  GuiHarness gui(service());
  const std::string photo = gui.writePhoto("IMG_1.jpg", {.width = 1600, .height = 1200});
  gui.open({photo, MARIGOLD_EXAMPLES_PATH "/dusk.jpg"});
  gui.signIn(kUser, kPassword);
  ASSERT_TRUE(gui.waitUntilPrepared());
  ASSERT_TRUE(GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }));
  const std::filesystem::path first = gui.window().prepared()->result.photos[0].path;
  std::ifstream in(first, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), {});

  // Another picture in the same bytes: every quantisation step one larger.
  const auto time = std::filesystem::last_write_time(photo);
  std::fstream file(photo, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), {});
  const std::size_t table = bytes.find("\xFF\xDB") + 5;
  for (std::size_t i = table; i < table + 64; ++i) bytes[i] = static_cast<char>(bytes[i] + 1);
  file.seekp(0);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  std::filesystem::last_write_time(photo, time);

  QTest::mouseClick(gui.window().postButton(), Qt::LeftButton);
  ASSERT_TRUE(gui.waitUntilPrepared());
  EXPECT_EQ(gui.window().prepared()->result.decodes, 1u);
  std::ifstream again(gui.window().prepared()->result.photos[0].path, std::ios::binary);
  EXPECT_NE(std::string((std::istreambuf_iterator<char>(again)), {}), before);
  EXPECT_EQ(gui.window().sheet(), nullptr);  // not posted: Post is pressed again for that
}

}  // namespace
}  // namespace marigold

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
