// marigold-gui: the graphical host. `marigold-gui PHOTO...` opens the export dialog with those
// photos; `marigold-gui --demo` starts the embedded simulator with a scratch home folder and opens
// the dialog signed out with the sample photos, ready for the demo account.
#include <stdlib.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui_session.h"
#include "host/simulator_process.h"

namespace {

constexpr const char* kDemoUser = "demo";
constexpr const char* kDemoPassword = "demo-password";

int fail(const QString& message) {
  std::fprintf(stderr, "marigold-gui: %s\n", message.toLocal8Bit().constData());
  QMessageBox::critical(nullptr, "Marigold", message);
  return 1;
}

// The demo's service and home folder, both gone when the object goes.
struct Demo {
  QTemporaryDir scratch;
  std::unique_ptr<marigold::host::SimulatorProcess> simulator;

  // Starts the simulator and points HOME and the service variables at the scratch folder and it.
  void start() {
    if (!scratch.isValid()) throw std::runtime_error("cannot make a temporary folder");
    const QString home = scratch.filePath("home");
    QDir().mkpath(home);
    simulator = std::make_unique<marigold::host::SimulatorProcess>(
        marigold::host::defaultSimulatorPath(),
        std::vector<std::string>{"--data", scratch.filePath("service").toStdString()});
    ::setenv("HOME", home.toLocal8Bit().constData(), 1);
    ::setenv("MARIGOLD_AUTH_BASE", simulator->authBase().c_str(), 1);
    ::setenv("MARIGOLD_API_BASE", simulator->apiBase().c_str(), 1);
    ::setenv("MARIGOLD_CA_FILE", simulator->caFile().c_str(), 1);
  }

  static std::vector<std::string> samplePhotos() {
    QDir folder(QString::fromStdString(marigold::host::defaultExamplesFolder()));
    std::vector<std::string> photos;
    for (const QString& name : folder.entryList({"*.jpg"}, QDir::Files, QDir::Name)) {
      photos.push_back(folder.absoluteFilePath(name).toStdString());
    }
    return photos;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("marigold-gui");
  QApplication::setApplicationDisplayName("Marigold");
  QApplication::setDesktopFileName("marigold-gui");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Posts photos to a Plinth blog through the Marigold export plug-in.\n"
      "Environment: MARIGOLD_PLUGIN, PLINTH_SIM, MARIGOLD_AUTH_BASE, MARIGOLD_API_BASE,\n"
      "MARIGOLD_CA_FILE and MARIGOLD_EXAMPLES, as for marigold.");
  parser.addHelpOption();
  parser.addOption({"demo",
                    "Start the embedded Plinth simulator with a scratch home folder and open the "
                    "sample photos; sign in as demo / demo-password."});
  parser.addPositionalArgument("photos", "Image files to post.", "[PHOTO...]");
  parser.process(app);

  std::vector<std::string> photos;
  for (const QString& path : parser.positionalArguments()) {
    photos.push_back(QFileInfo(path).absoluteFilePath().toStdString());
  }
  std::optional<Demo> demo;
  try {
    if (parser.isSet("demo")) {
      demo.emplace();
      demo->start();
      if (photos.empty()) photos = Demo::samplePhotos();
    }
    marigold::gui::GuiSession session(std::move(photos));
    if (demo) {
      session.window().setHint(QString("Demo: a simulated Plinth runs on this computer. Sign in "
                                       "as <b>%1</b> with the password <b>%2</b>.")
                                   .arg(kDemoUser, kDemoPassword));
    }
    session.window().show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    return fail(QString::fromLocal8Bit(e.what()));
  }
}
