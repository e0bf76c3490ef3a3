// The graphical host as a user drives it, on Qt's offscreen platform, against the Plinth simulator
// running in this process (real sockets and TLS) with a temporary home folder. Typing and clicks
// go through QTest into the widgets; every wait is bounded.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "photo_view.h"
#include "testing/gui_harness.h"

namespace marigold {
namespace {

constexpr const char* kUser = "ada";
constexpr const char* kPassword = "secret pass";

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

TEST(MarigoldGuiTest, SignInCaptionAndPostStoresThePhotosByteForByte) {
  GuiHarness gui(service());
  const std::vector<std::string> photos = {MARIGOLD_EXAMPLES_PATH "/sunrise.jpg",
                                           gui.writeFile("pattern.jpg", 1024 * 1024)};
  gui.open(photos);
  EXPECT_FALSE(gui.window().postButton()->isEnabled());  // signed out
  EXPECT_EQ(gui.window().thumbnails()->count(), 2);
  EXPECT_TRUE(showsPixmap(gui.widget<gui::PhotoView>("imagePreview")));  // the first photo, decoded
  EXPECT_EQ(gui.widget<QLineEdit>("plinthPassword")->echoMode(), QLineEdit::Password);

  gui.signIn(kUser, kPassword);
  EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text(), "Log Out");
  ASSERT_EQ(gui.widget<QComboBox>("plinthSelect")->count(), 2);
  gui.choose("plinthSelect", 1);
  gui.type("plinthCaptions", "Two views");
  // Return in the pane is the plug-in's to handle: it swallows it, and nothing is posted.
  QTest::keyClick(gui.widget<QLineEdit>("plinthCaptions"), Qt::Key_Return);
  EXPECT_EQ(gui.window().sheet(), nullptr);
  ASSERT_TRUE(gui.window().postButton()->isEnabled());

  std::vector<int> barValues;
  std::vector<QString> messages;
  gui.click(gui.window().postButton());
  auto* sheet = gui.window().sheet();
  ASSERT_NE(sheet, nullptr);
  QObject::connect(sheet->progressBar(), &QProgressBar::valueChanged,
                   [&](int value) { barValues.push_back(value); });
  auto* message = sheet->findChild<QLabel*>("message");
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (messages.empty() || messages.back() != message->text()) messages.push_back(message->text());
  });
  watch.start(0);
  ASSERT_EQ(gui.waitForOutcome(), sheet);
  watch.stop();

  EXPECT_EQ(message->text(), "Your images were succesfully posted.");
  EXPECT_FALSE(sheet->progressBar()->isVisible());
  ASSERT_FALSE(barValues.empty());
  EXPECT_TRUE(std::is_sorted(barValues.begin(), barValues.end()));
  EXPECT_GT(barValues.back(), gui::SheetWidget::kBarSteps / 2);  // advanced to the end
  EXPECT_NE(std::find(messages.begin(), messages.end(), "Waiting for a response..."),
            messages.end());
  const auto stored = gui.storedPhotos();
  ASSERT_EQ(stored.size(), 1u);
  ASSERT_EQ(stored[0].size(), 2u);
  EXPECT_TRUE(stored[0][0] == fileBytes(photos[0]));
  EXPECT_TRUE(stored[0][1] == fileBytes(photos[1]));
  EXPECT_EQ(gui.sim_->state().posts()[0].blog, "ada-travel");

  gui.click(sheet->button(0));  // "OK" ends the run: the window closes
  EXPECT_TRUE(GuiHarness::waitFor([&] { return !gui.window().isVisible(); }, 5));
}

// Outcomes the user must be able to read and leave: the sheet's texts, with "OK" enabled.
TEST(MarigoldGuiTest, FailuresShowTheirSheetWithOKEnabled) {
  struct Case {
    const char* name;
    int postStatus;
    const char* password;
    bool post;
    const char* message;  // the start of the sheet's message
    const char* informative;
  };
  const Case cases[] = {
      {"wrong password", 0, "wrong", false, "There was a problem logging in.",
       "Check your username and password and try again."},
      {"refused post", 500, kPassword, true, "The post failed: ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options = service();
    options.faults.postStatus = c.postStatus;
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

// Selections over the service's limits disable Post and show the pane's notice, also when the
// user signs in after the pane was shown.
TEST(MarigoldGuiTest, SelectionsOverTheLimitsDisablePostWithTheNotice) {
  struct Case {
    const char* name;
    std::size_t photos;
    std::size_t eachSize;
    const char* notice;  // part of the notice's text; "" = no notice
  };
  const Case cases[] = {
      {"ten small photos", 10, 1000, ""},
      {"6 MiB", 1, 6 * 1024 * 1024, "larger than 5 MB"},
      {"11 photos", 11, 1000, "at most 10 photos"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuiHarness gui(service());
    std::vector<std::string> photos;
    for (std::size_t i = 0; i < c.photos; ++i) {
      photos.push_back(gui.writeFile("photo" + std::to_string(i) + ".jpg", c.eachSize, 'x'));
    }
    gui.open(photos);
    gui.signIn(kUser, kPassword);
    EXPECT_EQ(gui.widget<QPushButton>("loginButton")->text(), "Log Out");
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

  ASSERT_EQ(gui.session().exportManager().imageCount(), 2u);  // the text files are left out
  EXPECT_EQ(gui.window().thumbnails()->count(), 2);
  EXPECT_FALSE(gui.window().thumbnails()->item(0)->icon().isNull());
  EXPECT_TRUE(showsPixmap(gui.widget<gui::PhotoView>("imagePreview")));
  EXPECT_EQ(gui.widget<QLineEdit>("plinthCaptions")->text(), "kept");
  // Two photos: no click-through link, as the pane says.
  EXPECT_FALSE(gui.widget<QLineEdit>("plinthClickthrough")->isEnabled());

  // Removing the first leaves the second, which the preview now shows.
  gui.window().thumbnails()->item(0)->setSelected(true);
  gui.click(gui.window().findChild<QPushButton*>("remove"));
  ASSERT_EQ(gui.session().exportManager().imageCount(), 1u);
  EXPECT_EQ(gui.session().exportManager().imagePathAtIndex(0),
            MARIGOLD_EXAMPLES_PATH "/meadow.jpg");
  EXPECT_TRUE(gui.widget<QLineEdit>("plinthClickthrough")->isEnabled());
}

// A connection that breaks during the upload: the plug-in's modal alert comes up as a message box
// (answered here as a user would), then the sheet shows the failure with "OK" enabled.
TEST(MarigoldGuiTest, BrokenConnectionShowsTheMessageBoxThenTheFailure) {
  sim::SimOptions options = service();
  options.faults.closeAfter = 1000;
  GuiHarness gui(std::move(options));
  gui.open({MARIGOLD_EXAMPLES_PATH "/harbour.jpg"});
  gui.signIn(kUser, kPassword);
  QString boxText;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxText = box->text();
      box->buttons().front()->click();
    }
  });
  answer.start(20);
  gui.click(gui.window().postButton());
  auto* sheet = gui.waitForOutcome();
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(boxText.isEmpty());
  EXPECT_TRUE(sheet->findChild<QLabel*>("message")->text().startsWith("The post failed: "));
  EXPECT_TRUE(sheet->button(0)->isEnabled());
}

// The upload runs inside Qt's event loop: while the service reads slowly the window goes on
// handling events, and Cancel stops the upload with nothing stored.
TEST(MarigoldGuiTest, SlowUploadKeepsTheWindowLiveAndCancelStoresNothing) {
  sim::SimOptions options = service();
  options.faults.slowPostRate = 256 * 1024;
  GuiHarness gui(std::move(options));
  gui.open({gui.writeFile("big.jpg", 1024 * 1024, '~')});  // a body of 3 MiB
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
  ASSERT_TRUE(GuiHarness::waitFor([&] { return message->text().contains(" Bytes of "); }));
  const int barBefore = sheet->progressBar()->value();
  ASSERT_TRUE(GuiHarness::waitFor([&] { return sheet->progressBar()->value() > barBefore; }));
  const int wakeUpsBefore = static_cast<int>(gui.session().driver().wakeUps());
  ASSERT_TRUE(GuiHarness::waitFor([&] { return ticks >= 5; }));
  EXPECT_GT(static_cast<int>(gui.session().driver().wakeUps()), wakeUpsBefore);
  EXPECT_TRUE(message->text().contains(" Bytes of "));  // still part-way
  EXPECT_TRUE(gui.window().cancelButton()->isEnabled());

  gui.click(gui.window().cancelButton());
  EXPECT_EQ(message->text(), "The post was cancelled.");
  EXPECT_TRUE(sheet->button(0)->isEnabled());
  gui.sim_->stop();  // the service is done with the connection it was reading
  EXPECT_TRUE(gui.storedPhotos().empty());
}

// `cmake --install` puts the program beside marigold with its desktop entry and icon, and the
// installed program runs from there.
TEST(MarigoldGuiTest, InstallsWithItsDesktopEntryAndIcon) {
  TemporaryHome home;
  const auto prefix = home.path() / "prefix";
  const std::string install = std::string("'") + CMAKE_COMMAND + "' --install '" +
                              MARIGOLD_BUILD_DIR + "' --prefix '" + prefix.string() +
                              "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0);
  for (const char* file : {"bin/marigold-gui", "share/applications/marigold-gui.desktop",
                           "share/icons/hicolor/scalable/apps/marigold-gui.svg"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / file)) << file;
  }
  const std::string help = "'" + (prefix / "bin/marigold-gui").string() + "' --help 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(help.c_str(), "r"), ::pclose);
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
    output.append(buffer, n);
  }
  EXPECT_EQ(::pclose(pipe.release()), 0) << output;
  EXPECT_NE(output.find("--demo"), std::string::npos) << output;
}

}  // namespace
}  // namespace marigold

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
