// Writes the graphical host's screenshots for the documentation (`make screenshots`): the window
// signed out, signed in with its thumbnails, the progress sheet part-way through an upload and
// the failure sheet of a refused post. Runs offscreen against the simulator in this process.
// Usage: marigold_gui_screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/simulator_process.h"
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

// A real photo-sized JPEG (a sky gradient with grain, about 1 MB), so that an upload takes a while.
std::string writeLargePhoto(GuiHarness& gui) {
  QImage image(1600, 1200, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, 0, image.height());
  sky.setColorAt(0, QColor("#f6ae2d"));
  sky.setColorAt(0.6, QColor("#f26419"));
  sky.setColorAt(1, QColor("#2f4858"));
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
  const std::string path = (gui.home_.path() / "evening-sky.jpg").string();
  image.save(QString::fromStdString(path), "JPEG", 90);
  return path;
}

bool save(GuiHarness& gui, const QDir& folder, const char* name) {
  const QString path = folder.filePath(name);
  const bool saved = gui.window().grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
  return saved;
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
    sim::SimOptions options = demoService();
    options.faults.slowPostRate = 128 * 1024;
    GuiHarness gui(std::move(options));
    gui.open({writeLargePhoto(gui)});
    gui.signIn("demo", "demo-password");
    gui.type("plinthCaptions", "Evening sky");
    gui.click(gui.window().postButton());
    auto* sheet = gui.window().sheet();
    const bool partWay = sheet != nullptr && GuiHarness::waitFor([&] {
                           const int value = sheet->progressBar()->value();
                           return value > gui::SheetWidget::kBarSteps * 2 / 5 &&
                                  value < gui::SheetWidget::kBarSteps * 3 / 4;
                         });
    ok = partWay && save(gui, folder, "progress.png") && ok;
    gui.click(gui.window().cancelButton());
  }
  {
    sim::SimOptions options = demoService();
    options.faults.postStatus = 500;
    GuiHarness gui(std::move(options));
    gui.open(samplePhotos());
    gui.signIn("demo", "demo-password");
    gui.click(gui.window().postButton());
    ok = gui.waitForOutcome() != nullptr && save(gui, folder, "failure.png") && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace marigold

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: marigold_gui_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "marigold_gui_screenshots: cannot make the folder %s\n", argv[1]);
    return 1;
  }
  return marigold::run(folder);
}
