#include "plinth_account.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "catalogue.h"

namespace marigold::purpose {

namespace {

const QString kProgram = QStringLiteral("marigold");
constexpr int kAnswerLimitSeconds = 30;
// After the window was opened: a look every 2 s for 10 minutes.
constexpr int kCheckIntervalMs = 2000;
constexpr int kChecks = 300;

QString text(const char* source) { return QString::fromUtf8(integrations::tr(source)); }

}  // namespace

PlinthAccount::PlinthAccount(QObject* parent) : QObject(parent) {
  limit_.setSingleShot(true);
  limit_.setInterval(kAnswerLimitSeconds * 1000);
  connect(&limit_, &QTimer::timeout, this, [this] {
    process_.kill();
    stateText_ =
        text("%1 did not answer within %2 seconds.").arg(kProgram).arg(kAnswerLimitSeconds);
  });
  checkAgain_.setInterval(kCheckIntervalMs);
  connect(&checkAgain_, &QTimer::timeout, this, [this] {
    if (signedIn_ || --checksLeft_ <= 0) {
      checkAgain_.stop();
    } else if (!busy()) {
      refresh();
    }
  });
  connect(&process_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
          &PlinthAccount::finished);
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    limit_.stop();
    stateText_ = text("Could not start %1: %2. Install Marigold or put it on the PATH.")
                     .arg(kProgram, process_.errorString());
    emit changed();
  });
}

PlinthAccount::~PlinthAccount() {
  if (busy()) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

QString PlinthAccount::blogLabel() const { return text("Blog:"); }
QString PlinthAccount::captionLabel() const { return text("Caption:"); }
QString PlinthAccount::tagsLabel() const { return text("Tags:"); }
QString PlinthAccount::signInLabel() const { return text("Sign In..."); }

void PlinthAccount::refresh() {
  if (busy()) return;
  run({QStringLiteral("status"), QStringLiteral("--json")});
}

void PlinthAccount::signIn() {
  const QString chosen = qEnvironmentVariable("MARIGOLD_GUI");
  const QString window = chosen.isEmpty() ? QStringLiteral("marigold-gui") : chosen;
  if (!QProcess::startDetached(window, {})) {
    stateText_ =
        text("Could not open %1 to sign in. Install Marigold or put it on the PATH.").arg(window);
    emit changed();
    return;
  }
  checksLeft_ = kChecks;
  checkAgain_.start();
}

void PlinthAccount::run(const QStringList& arguments) {
  process_.start(kProgram, arguments);
  limit_.start();
  emit changed();
}

void PlinthAccount::finished(int exitCode, QProcess::ExitStatus status) {
  limit_.stop();
  const QStringList arguments = process_.arguments();
  const QJsonObject answer = QJsonDocument::fromJson(process_.readAllStandardOutput()).object();
  const QString error = QString::fromLocal8Bit(process_.readAllStandardError()).trimmed();
  const bool wasStatus = arguments.value(0) == QLatin1String("status");
  if (status == QProcess::NormalExit && wasStatus && exitCode == 3) {
    signedIn_ = false;
    blogs_.clear();
    stateText_ = text("Nobody is signed in to Plinth.");
  } else if (status == QProcess::NormalExit && exitCode == 0 && wasStatus) {
    signedIn_ = answer.value(QStringLiteral("signedIn")).toBool();
    stateText_ =
        text("Signed in to Plinth as %1.").arg(answer.value(QStringLiteral("user")).toString());
    if (signedIn_) run({QStringLiteral("blogs"), QStringLiteral("--json")});
  } else if (status == QProcess::NormalExit && exitCode == 0) {
    blogs_.clear();
    const QJsonArray blogs = answer.value(QStringLiteral("blogs")).toArray();
    for (const QJsonValue& blog : blogs) {
      blogs_ << blog.toString();
    }
  } else {
    // The command's own words: a remembered sign-in that failed, a service that cannot be
    // reached.
    signedIn_ = false;
    blogs_.clear();
    if (!error.isEmpty() || stateText_.isEmpty()) stateText_ = error;
  }
  emit changed();
}

}  // namespace marigold::purpose
