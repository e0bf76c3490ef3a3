// The Plinth sign-in as the Share menu's settings show it: whether someone is signed in and their
// blogs, read from `marigold status --json` and `marigold blogs --json`, and the window
// (`marigold-gui`) to sign in when nobody is. Also the settings' own words in the user's language.
// A QML type (PlinthAccount in org.kde.marigold); lives on the thread that made it.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace marigold::purpose {

class PlinthAccount : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool signedIn READ signedIn NOTIFY changed)
  Q_PROPERTY(QStringList blogs READ blogs NOTIFY changed)
  Q_PROPERTY(QString stateText READ stateText NOTIFY changed)
  Q_PROPERTY(QString blogLabel READ blogLabel CONSTANT)
  Q_PROPERTY(QString captionLabel READ captionLabel CONSTANT)
  Q_PROPERTY(QString tagsLabel READ tagsLabel CONSTANT)
  Q_PROPERTY(QString signInLabel READ signInLabel CONSTANT)

 public:
  explicit PlinthAccount(QObject* parent = nullptr);
  ~PlinthAccount() override;

  // Reads the sign-in and, when someone is signed in, their blogs, anew.
  Q_INVOKABLE void refresh();
  // Opens the window to sign in, then reads the sign-in again now and then until someone is
  // signed in (for a bounded time).
  Q_INVOKABLE void signIn();

  bool signedIn() const { return signedIn_; }
  QStringList blogs() const { return blogs_; }
  QString stateText() const { return stateText_; }
  QString blogLabel() const;
  QString captionLabel() const;
  QString tagsLabel() const;
  QString signInLabel() const;

 signals:
  void changed();

 private:
  bool busy() const { return process_.state() != QProcess::NotRunning; }
  void run(const QStringList& arguments);
  void finished(int exitCode, QProcess::ExitStatus status);

  QProcess process_;
  QTimer limit_;       // ends a command that does not answer
  QTimer checkAgain_;  // after the window was opened to sign in
  int checksLeft_ = 0;
  bool signedIn_ = false;
  QStringList blogs_;
  QString stateText_;
};

}  // namespace marigold::purpose
