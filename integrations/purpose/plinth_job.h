// The job of KDE's Share menu entry "Plinth": posts the shared photos by running `marigold post
// --json --progress-fd N` with the blog, caption and tags the settings chose, reports the post's
// progress through the job as the command's progress stream tells it, and on success hands the
// post's address back as the output "url". A failure's error text is the command's own words.
// Lives on the thread that started it; the command is ended with the job.
#pragma once

#include <purpose/job.h>

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>
#include <memory>

namespace marigold::purpose {

class PlinthJob : public Purpose::Job {
  Q_OBJECT
 public:
  explicit PlinthJob(QObject* parent = nullptr);
  ~PlinthJob() override;

  void start() override;

 protected:
  // Cancelling the share ends the command; the post may then be on the blog already.
  bool doKill() override;

 private:
  void fail(const QString& text);
  void readProgress();
  void progressLine(const QJsonObject& line);
  void finished(int exitCode, QProcess::ExitStatus status);

  QProcess process_;
  int progressFd_ = -1;  // the read end of the progress stream
  std::unique_ptr<QSocketNotifier> progressReady_;
  QByteArray pending_;  // a line not yet whole
  QJsonObject last_;    // the stream's last line
};

}  // namespace marigold::purpose
