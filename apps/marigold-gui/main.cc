// marigold-gui: the graphical host. `marigold-gui PHOTO...` opens the export dialog with those
// photos (prepared for the post as it opens); `marigold-gui --demo` starts the embedded simulator
// with a scratch settings folder and opens the dialog signed out with the sample photos, ready for
// the demo account.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
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

#include "base/log.h"
#include "base/translation.h"
#include "gui_session.h"
#include "host/installed_files.h"
#include "host/photo_file.h"
#include "host/service_environment.h"
#include "host/simulator_process.h"
#include "signal_ending.h"
#include "ui_text.h"

namespace {

constexpr const char* kDemoUser = "demo";
constexpr const char* kDemoPassword = "demo-password";

int fail(const QString& message) {
  std::fprintf(stderr, "marigold-gui: %s\n", message.toLocal8Bit().constData());
  QMessageBox::critical(nullptr, "Marigold", message);
  return 1;
}

// The demo's service and scratch folder, both gone when the object goes.
struct Demo {
  QTemporaryDir scratch;
  std::unique_ptr<marigold::host::SimulatorProcess> simulator;

  // Starts the simulator; answers the plug-in's setup for it (SimulatorProcess::demoSetup).
  marigold::host::PluginSetup start() {
    if (!scratch.isValid()) throw std::runtime_error("cannot make a temporary folder");
    simulator = std::make_unique<marigold::host::SimulatorProcess>(
        marigold::host::defaultSimulatorPath(),
        std::vector<std::string>{"--data", scratch.filePath("service").toStdString()});
    return simulator->demoSetup(scratch.path().toStdString());
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

// The program's options, for its help text and for its run alike.
void describeOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(marigold::gui::tr(
      "Posts photos to a Plinth blog through the Marigold export plug-in. The photos are\n"
      "prepared first, as the window's Photo size and Remove location and camera details say:\n"
      "scaled (Fit, the default, fits the whole post into Plinth's limit), turned upright and\n"
      "made an 8-bit sRGB JPEG (an animated GIF stays a GIF with every frame); the originals\n"
      "are never changed. With the details removed, a photo keeps only metadata known to be\n"
      "safe (no location or serial in any namespace), and its file is read back to prove it.\n"
      "Environment: MARIGOLD_PLUGIN, PLINTH_SIM, MARIGOLD_AUTH_BASE, MARIGOLD_API_BASE,\n"
      "MARIGOLD_CA_FILE, MARIGOLD_EXAMPLES and MARIGOLD_LOG, as for marigold."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(
      {"demo", marigold::gui::tr("Start the embedded Plinth simulator with scratch settings and "
                                 "open the sample photos; sign in as %1 / %2.",
                                 {kDemoUser, kDemoPassword})});
  parser.addPositionalArgument("photos", marigold::gui::tr("Image files to post."),
                               marigold::gui::tr("[PHOTO...]"));
}

// --help and --version answer on standard output and need no display, unlike the window: they are
// read before the graphical application is made, which ends the program without a display. Answers
// the exit status when one of them was given. Options it does not know (Qt's own, such as
// -platform) are left to the window's reading of them.
std::optional<int> answerWithoutDisplay(int argc, char** argv) {
  QCoreApplication core(argc, argv);
  const marigold::gui::QtTranslations qtTexts;
  QCommandLineParser parser;
  describeOptions(parser);
  if (!parser.parse(QCoreApplication::arguments())) return std::nullopt;
  if (parser.isSet("help")) {
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (parser.isSet("version")) {
    std::printf("marigold-gui %s\n", MARIGOLD_VERSION);
    return 0;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // The diagnostics stay quiet unless asked for, as in marigold.
  const marigold::LogRoute diagnostics(marigold::host::diagnosticsFromEnvironment());
  QCoreApplication::setApplicationName("marigold-gui");
  QCoreApplication::setApplicationVersion(MARIGOLD_VERSION);
  marigold::useTranslations(marigold::host::catalogueFolder());
  if (const auto status = answerWithoutDisplay(argc, argv)) return *status;
  QApplication app(argc, argv);
  const marigold::gui::QtTranslations qtTexts;
  QApplication::setApplicationDisplayName("Marigold");
  QApplication::setDesktopFileName("marigold-gui");

  QCommandLineParser parser;
  describeOptions(parser);
  parser.process(app);

  // Files that are not photos are left out, as a drop leaves them out, and the window says so.
  std::vector<std::string> photos;
  QStringList leftOut;
  for (const QString& path : parser.positionalArguments()) {
    const std::string file = QFileInfo(path).absoluteFilePath().toStdString();
    if (const auto problem = marigold::host::photoFileProblem(file)) {
      std::fprintf(stderr, "marigold-gui: %s\n", problem->c_str());
      leftOut << QString::fromStdString(*problem).toHtmlEscaped();
    } else {
      photos.push_back(file);
    }
  }
  std::optional<Demo> demo;
  // A signal ends the program as closing its window does, so that the demo's simulator and scratch
  // folder go with it; the post being written is kept for the next start rather than asked about.
  std::optional<marigold::gui::GuiSession> session;  // goes before the demo's service
  const marigold::gui::EndOnSignal endOnSignal([&session] {
    if (session) session->window().endKeepingDraft();
    QApplication::exit(0);
  });
  try {
    marigold::host::PluginSetup setup;
    if (parser.isSet("demo")) {
      demo.emplace();
      setup = demo->start();
      if (photos.empty()) photos = Demo::samplePhotos();
    }
    session.emplace(std::move(photos), std::move(setup));
    QString hint;
    if (demo) {
      hint = marigold::gui::tr(
          "Demo: a simulated Plinth runs on this computer. Sign in as <b>%1</b> with the "
          "password <b>%2</b>.",
          {kDemoUser, kDemoPassword});
    }
    if (!leftOut.isEmpty()) {
      hint +=
          (hint.isEmpty() ? "" : "<br>") + marigold::gui::tr("Left out: %1", {leftOut.join("; ")});
    }
    session->window().setHint(hint);
    session->window().show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    return fail(QString::fromLocal8Bit(e.what()));
  }
}
