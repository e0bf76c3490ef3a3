// The Share menu entry "Plinth" as KDE's applications reach it: Purpose's own model, asked for
// Export plug-ins for JPEG photos with the built plug-in folder on QT_PLUGIN_PATH, lists it; the
// job it configures and creates runs in Purpose's helper process, as a Share menu runs it, and
// posts the photos with the built `marigold` against the simulator on loopback. Its settings page
// is rendered offscreen with the built QML module.
#include <gtest/gtest.h>
#include <purpose/alternativesmodel.h>
#include <purpose/configuration.h>
#include <purpose/job.h>

#include <QEventLoop>
#include <QGuiApplication>
#include <QImageWriter>
#include <QJsonArray>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickView>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "testing/program_fixture.h"

// QStrings in failures as their text.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace marigold {
namespace {

namespace fs = std::filesystem;

class PurposePluginTest : public ProgramFixture {
 protected:
  // The environment a Share menu's job inherits: this test's HOME and simulator and the built
  // `marigold` first on the PATH.
  void useEnvironment() {
    static const std::string path =
        fs::path(MARIGOLD_BINARY).parent_path().string() + ":" + std::getenv("PATH");
    for (const auto& [name, value] :
         std::map<std::string, std::string>{{"HOME", home_.path().string()},
                                            {"MARIGOLD_AUTH_BASE", sim_->authBase()},
                                            {"MARIGOLD_API_BASE", sim_->apiBase()},
                                            {"MARIGOLD_CA_FILE", sim_->caFile().string()},
                                            {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                                            {"PATH", path},
                                            {"QT_QPA_PLATFORM", "offscreen"},
                                            {"LC_ALL", "C.UTF-8"},
                                            {"LANGUAGE", "en"}}) {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "DISPLAY", "WAYLAND_DISPLAY"}) {
      ::unsetenv(name);
    }
  }

  // The model's row named "Plinth" for JPEG photos at `photos`, or -1.
  static int plinthRow(Purpose::AlternativesModel& model, const QJsonArray& photos) {
    model.setInputData(QJsonObject{{QStringLiteral("mimeType"), QStringLiteral("image/jpeg")},
                                   {QStringLiteral("urls"), photos}});
    model.setPluginType(QStringLiteral("Export"));
    for (int row = 0; row < model.rowCount(); ++row) {
      if (model.index(row).data(Qt::DisplayRole).toString() == QLatin1String("Plinth")) return row;
    }
    return -1;
  }
};

// Runs the event loop until `done` holds, for at most `seconds`; answers whether it held.
bool waitFor(const std::function<bool()>& done, int seconds) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  poll.start(20);
  loop.exec();
  return done();
}

// The settings page, rendered offscreen as the Share menu shows it: nobody is signed in, so it
// says so and offers "Sign In...", which opens the window (here a stand-in that signs in as the
// window would); the page then sees the sign-in and lists the user's blogs, and the blog, caption
// and tags the user chooses are what it hands Purpose.
TEST_F(PurposePluginTest, SettingsSignInThenListTheBlogs) {
  useEnvironment();
  const fs::path window = home_.path() / "marigold-gui";
  std::ofstream(window) << "#!/bin/sh\nprintf 'secret pass' | marigold login --user ada "
                           "--password-stdin --remember >/dev/null 2>&1\n";
  fs::permissions(window, fs::perms::owner_all);
  ::setenv("MARIGOLD_GUI", window.c_str(), 1);

  QQuickView view;
  view.engine()->addImportPath(QStringLiteral(MARIGOLD_PURPOSE_QML));
  view.setResizeMode(QQuickView::SizeRootObjectToView);
  view.resize(420, 320);
  // The page on a dialog's white ground, as the Share menu's dialog shows it.
  const fs::path frame = home_.path() / "frame.qml";
  std::ofstream(frame)
      << "import QtQuick 2.2\nRectangle { color: \"white\"\n  Loader { objectName: "
         "\"page\"; anchors.fill: parent; anchors.margins: 8; source: \""
      << MARIGOLD_SOURCE_DIR << "/integrations/purpose/marigoldplugin_config.qml\" }\n}\n";
  view.setSource(QUrl::fromLocalFile(QString::fromStdString(frame.string())));
  ASSERT_EQ(view.status(), QQuickView::Ready) << view.errors().value(0).toString().toStdString();
  view.show();
  auto* root =
      view.rootObject()->findChild<QQuickItem*>("page")->property("item").value<QQuickItem*>();
  ASSERT_NE(root, nullptr) << "the settings page did not load";
  const auto item = [&](const char* name) { return root->findChild<QQuickItem*>(name); };
  const auto stateText = [&] { return item("state")->property("text").toString(); };

  ASSERT_TRUE(waitFor([&] { return !stateText().isEmpty(); }, 30));
  EXPECT_EQ(stateText(), QStringLiteral("Nobody is signed in to Plinth."));
  EXPECT_TRUE(item("signIn")->isVisible());
  EXPECT_FALSE(item("blog")->isEnabled());

  QMetaObject::invokeMethod(item("signIn"), "clicked");
  ASSERT_TRUE(waitFor([&] { return item("blog")->property("count").toInt() == 2; }, 30))
      << stateText().toStdString();
  EXPECT_EQ(stateText(), QStringLiteral("Signed in to Plinth as ada."));
  EXPECT_FALSE(item("signIn")->isVisible());
  EXPECT_TRUE(item("blog")->isEnabled());

  item("blog")->setProperty("currentIndex", 1);
  item("caption")->setProperty("text", QStringLiteral("Dusk over the bay"));
  item("tags")->setProperty("text", QStringLiteral("dusk, sky"));
  EXPECT_EQ(root->property("blog").toString(), QStringLiteral("ada-travel.plinth.example"));
  EXPECT_EQ(root->property("caption").toString(), QStringLiteral("Dusk over the bay"));
  EXPECT_EQ(root->property("tags").toString(), QStringLiteral("dusk, sky"));
  const QSharedPointer<QQuickItemGrabResult> grab = view.rootObject()->grabToImage();
  ASSERT_TRUE(grab);
  bool grabbed = false;
  QObject::connect(grab.data(), &QQuickItemGrabResult::ready, [&] { grabbed = true; });
  EXPECT_TRUE(waitFor([&] { return grabbed; }, 10));
  const QImage picture = grab->image();
  EXPECT_FALSE(picture.isNull());
  QImageWriter writer(QStringLiteral(MARIGOLD_PURPOSE_SCREENSHOT), "png");
  EXPECT_TRUE(writer.write(picture)) << writer.errorString().toStdString();
  ::unsetenv("MARIGOLD_GUI");
}

TEST_F(PurposePluginTest, ShareMenuFindsPlinthAndItsJobPostsOrSaysWhyNot) {
  useEnvironment();
  const ProgramOutcome login =
      run({"login", "--user", "ada", "--password-stdin", "--remember"}, {.input = "secret pass"});
  ASSERT_EQ(login.exitCode, 0) << login.err;
  const QJsonArray photos = {
      QUrl::fromLocalFile(QString::fromStdString(writePhoto("dusk one.jpg"))).toString(),
      QUrl::fromLocalFile(QString::fromStdString(writePhoto("dusk two.jpg"))).toString()};

  struct Case {
    const char* name;
    bool inProcess;   // the job in the application's process (KDE_PURPOSE_LOCAL_JOBS)
    int postStatus;   // the service's answer to the post; 0: its own
    QJsonArray urls;  // what the application shares
    QString url;      // the post's address handed back; empty: the job fails
    QString error;    // the job's error text
  };
  const Case kCases[] = {
      {"posted", false, 0, photos, QStringLiteral("http://ada-travel.plinth.example/post/1"), {}},
      {"posted, the job in the application's process",
       true,
       0,
       photos,
       QStringLiteral("http://ada-travel.plinth.example/post/1"),
       {}},
      {"service error",
       false,
       500,
       photos,
       {},
       QStringLiteral("The post failed: Internal Server Error (HTTP 500)")},
      {"a photo on a server",
       false,
       0,
       {QStringLiteral("https://example.com/a.jpg")},
       {},
       QStringLiteral("Only photos on this computer can be posted: https://example.com/a.jpg")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator([&](sim::SimOptions& o) { o.faults.postStatus = c.postStatus; });
    useEnvironment();  // the new simulator's ports
    if (c.inProcess) {
      ::setenv("KDE_PURPOSE_LOCAL_JOBS", "1", 1);
    } else {
      ::unsetenv("KDE_PURPOSE_LOCAL_JOBS");
    }
    Purpose::AlternativesModel model;
    const int row = plinthRow(model, c.urls);
    ASSERT_GE(row, 0) << "Purpose's model does not list Plinth for image/jpeg";
    Purpose::Configuration* configuration = model.configureJob(row);
    ASSERT_NE(configuration, nullptr);
    configuration->setParent(&model);
    EXPECT_FALSE(configuration->isReady());  // the settings must be given first
    QJsonObject data = configuration->data();
    data.insert(QStringLiteral("blog"), QStringLiteral("ada-travel"));
    data.insert(QStringLiteral("caption"), QStringLiteral("-Dusk, twice"));
    data.insert(QStringLiteral("tags"), QStringLiteral("dusk, sky"));
    configuration->setData(data);
    ASSERT_TRUE(configuration->isReady());

    Purpose::Job* job = configuration->createJob();
    ASSERT_NE(job, nullptr);
    QEventLoop loop;
    bool ended = false;
    QObject::connect(job, &KJob::result, &loop, [&] {
      ended = true;
      loop.quit();
    });
    QTimer::singleShot(ProgramFixture::kRunLimitSeconds * 1000, &loop, &QEventLoop::quit);
    std::vector<unsigned long> percents;
    QObject::connect(job, &KJob::percentChanged, &loop,
                     [&](KJob*, unsigned long percent) { percents.push_back(percent); });
    job->start();
    loop.exec();
    ASSERT_TRUE(ended) << "the job did not end within " << ProgramFixture::kRunLimitSeconds << " s";
    if (!c.url.isEmpty()) {
      EXPECT_EQ(job->error(), 0) << job->errorText().toStdString();
      EXPECT_EQ(job->output().value(QStringLiteral("url")).toString(), c.url);
      // The settings went with the photos, in their order.
      const std::vector<sim::StoredPost> posts = sim_->state().posts();
      ASSERT_EQ(posts.size(), 1u);
      EXPECT_EQ(posts[0].blog, "ada-travel");
      EXPECT_EQ(posts[0].photos.size(), 2u);
      const std::vector<std::pair<std::string, std::string>> fields = {{"type", "photo"},
                                                                       {"caption", "-Dusk, twice"},
                                                                       {"tags", "dusk, sky"},
                                                                       {"state", "published"}};
      EXPECT_EQ(posts[0].fields, fields);
      // Purpose's helper process hands back the output, not the progress: the progress is seen
      // where the job runs in the application's own process.
      if (c.inProcess) {
        ASSERT_FALSE(percents.empty());
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(percents.back(), 100u);
        EXPECT_GT(job->totalAmount(KJob::Bytes), 0u);
        EXPECT_EQ(job->processedAmount(KJob::Bytes), job->totalAmount(KJob::Bytes));
      }
    } else {
      EXPECT_NE(job->error(), 0);
      EXPECT_EQ(job->errorText(), c.error);
      EXPECT_TRUE(job->output().value(QStringLiteral("url")).toString().isEmpty());
    }
  }
}

}  // namespace
}  // namespace marigold

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("QT_QUICK_BACKEND", "software", 1);  // no OpenGL offscreen
  // Read once, when the application starts: the built plug-in folder, as a Share menu's
  // application finds the installed one.
  ::setenv("QT_PLUGIN_PATH", MARIGOLD_PURPOSE_PLUGINS, 1);
  QGuiApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
