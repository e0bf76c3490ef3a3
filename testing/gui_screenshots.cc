// Writes the graphical host's screenshots for the documentation (`make screenshots`): the window
// signed out, signing in (the wait's sheet), signed in with its thumbnails and size line, camera-
// sized photos prepared to fit the limit, the progress sheet part-way through an upload, a broken
// connection's failure sheet with its Details shut and open, the question before typed work is
// discarded, an upload to a service that stopped answering ("stalled"), the question that offers
// the post a signal kept, a refused post with "Try Again", a post that went through with "View
// Post", and a dark theme with a photo over the limit at its original size; with a LANGUAGE, the
// signed-in window in that language. Runs offscreen against the simulator in this process. Usage:
// marigold_gui_screenshots OUTPUT_FOLDER [LANGUAGE]
#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QStyleFactory>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "base/translation.h"
#include "host/installed_files.h"
#include "host/simulator_process.h"
#include "preparation_controls.h"
#include "testing/gui_harness.h"

namespace marigold {
namespace {

// The demo account and its two blogs.
sim::SimOptions demoService() {
  sim::SimOptions options;
  options.accounts = {sim::demoAccount()};
  return options;
}

std::vector<std::string> samplePhotos() {
  QDir folder(QString::fromStdString(host::defaultExamplesFolder()));
  std::vector<std::string> photos;
  for (const QString& name : folder.entryList({"*.jpg"}, QDir::Files, QDir::Name)) {
    photos.push_back(folder.absoluteFilePath(name).toStdString());
  }
  return photos;
}

// A real photo-sized JPEG (a sky gradient with grain; about 1 MB at 1600 x 1200), so that an
// upload takes a while. Another `hue` turns the sky's colours round the colour wheel.
std::string writeLargePhoto(GuiHarness& gui, int width = 1600, int height = 1200, int hue = 0) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, 0, image.height());
  auto turned = [hue](const char* colour) {
    const QColor c(colour);
    return QColor::fromHsv((c.hue() + hue) % 360, c.saturation(), c.value());
  };
  sky.setColorAt(0, turned("#f6ae2d"));
  sky.setColorAt(0.6, turned("#f26419"));
  sky.setColorAt(1, turned("#2f4858"));
  painter.fillRect(image.rect(), sky);
  painter.end();
  QRandomGenerator grain(7);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const int d = static_cast<int>(grain.bounded(48)) - 24;
      line[x] = qRgb(std::clamp(qRed(line[x]) + d, 0, 255), std::clamp(qGreen(line[x]) + d, 0, 255),
                     std::clamp(qBlue(line[x]) + d, 0, 255));
    }
  }
  const std::string path =
      (gui.home_.path() / ("sky-" + std::to_string(width) + "-" + std::to_string(hue) + ".jpg"))
          .string();
  image.save(QString::fromStdString(path), "JPEG", 90);
  return path;
}

// The window as it is drawn; with `above`, a window of its own over it (a question), drawn where
// a desktop centres it over the window.
bool save(GuiHarness& gui, const QDir& folder, const char* name, QWidget* above = nullptr) {
  GuiHarness::waitFor([&] { return gui.window().thumbnailsReady(); }, 10);
  gui.waitUntilPrepared();
  const QString path = folder.filePath(name);
  QPixmap shot = gui.window().grab();
  if (above != nullptr) {
    const QPixmap top = above->grab();
    QPainter painter(&shot);
    painter.fillRect(shot.rect(), QColor(0, 0, 0, 60));
    const QSize room = gui.window().size() - above->size();
    painter.drawPixmap(room.width() / 2, room.height() / 3, top);
  }
  const bool saved = shot.save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
  return saved;
}

// A dark theme as desktops ship one.
QPalette darkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
  dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
  dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
  dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
  dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
  dark.setColor(QPalette::Highlight, QColor(0x3d, 0x7a, 0xd6));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9a));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    dark.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
  }
  return dark;
}

// The signed-in window in the language the session chose (LANGUAGE), as window-LANGUAGE.png.
int runInLanguage(const QDir& folder, const std::string& language) {
  GuiHarness gui(demoService());
  gui.open(samplePhotos());
  gui.signIn("demo", "demo-password");
  gui.type("plinthCaptions", "A day by the sea");
  gui.type("plinthTags", "travel, sea, light");
  return save(gui, folder, ("window-" + language + ".png").c_str()) ? 0 : 1;
}

int run(const QDir& folder) {
  bool ok = true;
  {
    GuiHarness gui(demoService());
    gui.open(samplePhotos());
    ok = save(gui, folder, "signed-out.png") && ok;
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "A day by the sea");
    gui.type("plinthTags", "travel, sea, light");
    ok = save(gui, folder, "signed-in.png") && ok;
  }
  {
    // Photos as large as a camera's, each prepared to its share of the limit.
    GuiHarness gui(demoService());
    std::vector<std::string> photos;
    for (int hue : {0, 340, 190}) photos.push_back(writeLargePhoto(gui, 4000, 3000, hue));
    for (std::string& sample : samplePhotos()) photos.push_back(std::move(sample));
    gui.open(photos);
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "Seven skies");
    ok = save(gui, folder, "prepared.png") && ok;
  }
  {
    // The sign-in's sheet while the service does not answer; then the wait is cancelled.
    sim::SimOptions options = demoService();
    options.faults.stall = sim::StallTarget::kToken;
    GuiHarness gui(std::move(options));
    gui.open(samplePhotos());
    bool shot = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      QPushButton* cancel = gui.sheetButton("Cancel");
      if (cancel == nullptr || shot) return;
      shot = true;
      ok = save(gui, folder, "signing-in.png") && ok;
      cancel->click();
    });
    watch.start(50);
    gui.signIn("demo", "demo-password");
    ok = shot && ok;
  }
  {
    sim::SimOptions options = demoService();
    // Photos larger than the connection's buffers take at once, read slowly enough that the
    // time left is known (after three seconds of sending) before the bar is three quarters full.
    options.faults.slowPostRate = 256 * 1024;
    GuiHarness gui(std::move(options));
    gui.open({writeLargePhoto(gui, 3200, 2400)});
    gui.choose(gui.window().preparationControls()->sizeMenu(), 1);  // Original
    gui.waitUntilPrepared();
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "Evening sky");
    gui.click(gui.window().postButton());
    auto* sheet = gui.window().sheet();
    auto* detail = sheet != nullptr ? sheet->findChild<QLabel*>("detail") : nullptr;
    const bool partWay = detail != nullptr && GuiHarness::waitFor([&] {
                           const int value = sheet->paintedValue();
                           return value > gui::SheetWidget::kBarSteps * 2 / 5 &&
                                  value < gui::SheetWidget::kBarSteps * 3 / 4 &&
                                  detail->text().contains(" left");
                         });
    ok = partWay && save(gui, folder, "progress.png") && ok;
    gui.click(gui.window().cancelButton());
  }
  {
    // The service stops answering part-way through an upload (its process stopped): after ten
    // seconds the sheet says so, and how long it has been, with Cancel still there.
    GuiHarness gui(demoService());
    host::SimulatorProcess stopping(
        host::defaultSimulatorPath(),
        {"--slow-post", "262144", "--data", (gui.home_.path() / "stopping").string()});
    gui.open({writeLargePhoto(gui, 3200, 2400)},
             host::PluginSetup{.service = {.authBase = stopping.authBase(),
                                           .apiBase = stopping.apiBase(),
                                           .trustedAuthorityFile = stopping.caFile(),
                                           .configurationHome = gui.home_.path().string()},
                               .useDesktopKeyring = false});
    gui.choose(gui.window().preparationControls()->sizeMenu(), 1);  // Original
    gui.waitUntilPrepared();
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "Evening sky");
    gui.click(gui.window().postButton());
    const bool sending = GuiHarness::waitFor([&] {
      const auto& upload = gui.window().upload();
      return upload && upload->photoBytesSent > 512 * 1024;
    });
    const bool stopped = sending && ::kill(stopping.pid(), SIGSTOP) == 0;
    auto* sheet = gui.window().sheet();
    auto* informative = sheet != nullptr ? sheet->findChild<QLabel*>("informative") : nullptr;
    const bool stalled =
        stopped && informative != nullptr &&
        GuiHarness::waitFor([&] { return informative->text().endsWith(" 12 s"); }, 30);
    ok = stalled && save(gui, folder, "stalled.png") && ok;
    if (stopped) ::kill(stopping.pid(), SIGCONT);
    if (QPushButton* cancel = gui.sheetButton("Cancel")) cancel->click();
  }
  {
    // The post being written when a signal ended the window, offered by the next one.
    GuiHarness gui(demoService());
    gui.open(samplePhotos());
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "A day by the sea");
    gui.type("plinthTags", "travel, sea, light");
    gui.window().endKeepingDraft();
    gui.open({samplePhotos().front()});
    QWidget* question = nullptr;
    GuiHarness::waitFor([&] {
      question = gui.window().draftQuestion();
      return question != nullptr && question->isVisible();
    });
    ok = question != nullptr && save(gui, folder, "restore.png", question) && ok;
  }
  {
    // The connection breaks off during the upload: the failure sheet says so once, the
    // connection's own words behind Details.
    sim::SimOptions options = demoService();
    options.faults.closeAfter = 4096;
    GuiHarness gui(std::move(options));
    gui.open(samplePhotos());
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "A day by the sea");
    gui.click(gui.window().postButton());
    gui::SheetWidget* sheet = gui.waitForOutcome();
    ok = sheet != nullptr && save(gui, folder, "failure.png") && ok;
    if (sheet != nullptr) {
      GuiHarness::click(sheet->detailsButton());
      ok = save(gui, folder, "failure-details.png") && ok;
    }
  }
  {
    // Closing the window with a typed caption asks first.
    GuiHarness gui(demoService());
    gui.open(samplePhotos());
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "A day by the sea");
    gui.click(gui.window().cancelButton());
    QWidget* question = nullptr;
    GuiHarness::waitFor([&] {
      question = gui.window().findChild<QWidget*>("discardQuestion");
      return question != nullptr && question->isVisible();
    });
    ok = question != nullptr && save(gui, folder, "discard.png", question) && ok;
  }
  {
    // A refused post, then the same post again with "Try Again", which goes through.
    sim::SimOptions options = demoService();
    options.faults.postStatus = 500;
    options.faults.postStatusOnce = true;
    GuiHarness gui(std::move(options));
    gui.open(samplePhotos());
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "A day by the sea");
    gui.click(gui.window().postButton());
    ok = gui.waitForOutcome() != nullptr && save(gui, folder, "try-again.png") && ok;
    gui.click(gui.sheetButton("Try Again"));
    ok = GuiHarness::waitFor([&] { return gui.sheetButton("View Post") != nullptr; }) &&
         save(gui, folder, "view-post.png") && ok;
  }
  {
    // A dark theme: a photo too large for the service at its original size disables the post, its
    // notice in a red the theme's background lets one read, and the typed caption stays.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(darkPalette());
    GuiHarness gui(demoService());
    gui.open({samplePhotos().front()});
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "Dusk, then the evening sky");
    GuiHarness::choose(gui.window().preparationControls()->sizeMenu(), 1);
    gui.window().addPhotos({QString::fromStdString(writeLargePhoto(gui, 6000, 4000))});
    ok = save(gui, folder, "dark.png") && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace marigold

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: marigold_gui_screenshots OUTPUT_FOLDER [LANGUAGE]\n");
    return 2;
  }
  QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "marigold_gui_screenshots: cannot make the folder %s\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    // The language as a desktop session chooses it; C.UTF-8 lets LANGUAGE count without a
    // locale of that language installed.
    qputenv("LANGUAGE", argv[2]);
    qputenv("LC_ALL", "C.UTF-8");
    marigold::useTranslations(marigold::host::catalogueFolder());
    return marigold::runInLanguage(folder, argv[2]);
  }
  return marigold::run(folder);
}
