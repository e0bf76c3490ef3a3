#include "plinth_job.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <QUrl>

#include "catalogue.h"

namespace marigold::purpose {

namespace {

// The program that posts: "marigold" on the PATH, which a package or a /usr/local install puts
// there.
const QString kProgram = QStringLiteral("marigold");

QStringList localPaths(const QJsonArray& urls, QString& problem) {
  QStringList paths;
  for (const QJsonValue& value : urls) {
    const QUrl url(value.toString());
    if (!url.isLocalFile()) {
      problem =
          QString::fromUtf8(integrations::tr("Only photos on this computer can be posted: %1"))
              .arg(url.toDisplayString());
      return {};
    }
    paths << url.toLocalFile();
  }
  return paths;
}

}  // namespace

PlinthJob::PlinthJob(QObject* parent) : Purpose::Job(parent) {
  connect(&process_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
          &PlinthJob::finished);
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) {
      fail(QString::fromUtf8(
               integrations::tr("Could not start %1: %2. Install Marigold or put it on the PATH."))
               .arg(kProgram, process_.errorString()));
    }
  });
}

PlinthJob::~PlinthJob() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
  if (progressFd_ >= 0) ::close(progressFd_);
}

bool PlinthJob::doKill() {
  process_.disconnect(this);  // KJob itself ends the job as killed
  process_.kill();
  return true;
}

void PlinthJob::start() {
  QString problem;
  const QStringList paths = localPaths(data().value(QStringLiteral("urls")).toArray(), problem);
  if (!problem.isEmpty()) return fail(problem);
  if (paths.isEmpty())
    return fail(QString::fromUtf8(integrations::tr("There are no photos to post.")));

  // The stream's pipe: the command inherits the write end (the descriptor it is told), this
  // process keeps only the read end, which no other child inherits.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0)
    return fail(QString::fromUtf8(integrations::tr("Could not make the progress stream.")));
  progressFd_ = ends[0];
  // Never blocks this thread: a program the command started may still hold the write end after
  // the command ended.
  ::fcntl(progressFd_, F_SETFL, ::fcntl(progressFd_, F_GETFL) | O_NONBLOCK);
  const int writeEnd = ::fcntl(ends[1], F_DUPFD, 3);  // not close-on-exec, and not 0 to 2
  ::close(ends[1]);
  if (writeEnd < 0)
    return fail(QString::fromUtf8(integrations::tr("Could not make the progress stream.")));

  QStringList arguments = {QStringLiteral("post"), QStringLiteral("--json"),
                           QStringLiteral("--progress-fd"), QString::number(writeEnd)};
  // Option=value keeps a caption that starts with "-" a caption.
  const auto option = [&](const char* name, const char* key) {
    const QString value = data().value(QLatin1String(key)).toString();
    if (!value.isEmpty()) arguments << QLatin1String(name) + QLatin1Char('=') + value;
  };
  option("--blog", "blog");
  option("--caption", "caption");
  option("--tags", "tags");
  arguments << QStringLiteral("--") << paths;

  progressReady_ = std::make_unique<QSocketNotifier>(progressFd_, QSocketNotifier::Read);
  connect(progressReady_.get(), &QSocketNotifier::activated, this, &PlinthJob::readProgress);
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.start(kProgram, arguments);
  ::close(writeEnd);  // the command holds it now; the stream ends when the command does
}

void PlinthJob::readProgress() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(progressFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;  // all there is for now
    if (n <= 0) {  // the stream ended (or failed): what it said is all there is
      progressReady_.reset();
      return;
    }
    pending_.append(buffer, static_cast<int>(n));
    for (int end; (end = pending_.indexOf('\n')) >= 0;) {
      const QJsonDocument line = QJsonDocument::fromJson(pending_.left(end));
      pending_.remove(0, end + 1);
      if (line.isObject()) progressLine(line.object());
    }
  }
}

void PlinthJob::progressLine(const QJsonObject& line) {
  last_ = line;
  const auto sent = static_cast<qulonglong>(line.value(QStringLiteral("sent")).toDouble());
  const auto total = static_cast<qulonglong>(line.value(QStringLiteral("total")).toDouble());
  if (total > 0) {
    setTotalAmount(KJob::Bytes, total);
    setProcessedAmount(KJob::Bytes, sent);
    setPercent(static_cast<unsigned long>(sent * 100 / total));
  }
}

void PlinthJob::finished(int exitCode, QProcess::ExitStatus status) {
  // The stream's last lines may still wait in the pipe.
  if (progressReady_) readProgress();
  const QString phase = last_.value(QStringLiteral("phase")).toString();
  if (status == QProcess::NormalExit && exitCode == 0 && phase == QLatin1String("posted")) {
    setPercent(100);
    setOutput({{QStringLiteral("url"), last_.value(QStringLiteral("url")).toString()}});
    emitResult();
    return;
  }
  QString error = last_.value(QStringLiteral("error")).toString();
  if (error.isEmpty()) error = QString::fromLocal8Bit(process_.readAllStandardError()).trimmed();
  if (error.isEmpty()) {
    error = QString::fromUtf8(integrations::tr("%1 ended without saying why.")).arg(kProgram);
  }
  fail(error);
}

void PlinthJob::fail(const QString& text) {
  setError(KJob::UserDefinedError);
  setErrorText(text);
  // Never from within start(): whoever started the job is still setting it up.
  QMetaObject::invokeMethod(this, &PlinthJob::emitResult, Qt::QueuedConnection);
}

}  // namespace marigold::purpose
