#include "sign_in_waiter.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include "base/translation.h"
#include "export_window.h"
#include "platform/alert.h"
#include "platform/progress_indicator.h"
#include "platform/window.h"
#include "qt_run_loop_driver.h"
#include "sheet_widget.h"

namespace marigold::gui {
namespace {

// Holds back the user's input everywhere but in the sign-in's sheet while the plug-in is inside
// its sign-in (nothing may start a post or change the selection under it). Escape gives up.
class InputGate : public QObject {
 public:
  InputGate(std::function<QWidget*()> sheet, std::function<void()> giveUp)
      : sheet_(std::move(sheet)), giveUp_(std::move(giveUp)) {
    QApplication::instance()->installEventFilter(this);
  }
  ~InputGate() override { QApplication::instance()->removeEventFilter(this); }

 private:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        break;
      default:
        return false;
    }
    QWidget* sheet = sheet_();
    auto* widget = qobject_cast<QWidget*>(watched);
    if (sheet != nullptr && widget != nullptr && (widget == sheet || sheet->isAncestorOf(widget))) {
      return false;
    }
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      giveUp_();
    }
    return true;
  }

  std::function<QWidget*()> sheet_;
  std::function<void()> giveUp_;
};

}  // namespace

bool SignInWaiter::waitFor(RunLoop& exchangeLoop, const std::function<bool()>& finished) {
  if (finished()) return true;
  ++waits_;
  struct Done {
    int& waits;
    ~Done() { --waits; }
  } done{waits_};
  QEventLoop events;
  bool gaveUp = false;
  bool ending = false;
  auto giveUp = [&] {
    gaveUp = true;
    events.quit();
  };

  // The sheet: on the export window while it is shown, else a small window of its own.
  std::shared_ptr<Alert> alert;
  Window ownWindow(marigold::tr("Signing in"));
  std::unique_ptr<SheetWidget> standalone;
  auto sheetWidget = [&]() -> QWidget* {
    if (standalone) return standalone.get();
    if (window_ && window_->sheet() && alert && window_->sheet()->alert() == alert) {
      return window_->sheet();
    }
    return nullptr;
  };
  InputGate gate(sheetWidget, giveUp);

  QtRunLoopDriver driver(exchangeLoop);
  driver.setAfterWakeUp([&] {
    if (finished()) events.quit();
  });
  QTimer later;
  later.setSingleShot(true);
  QObject::connect(&later, &QTimer::timeout, [&] {
    alert = Alert::create();
    alert->setAlertStyle(AlertStyle::kInformational);
    alert->setMessageText(marigold::tr("Signing in..."));
    alert->setInformativeText(marigold::tr("Waiting for Plinth to answer."));
    auto bar = std::make_shared<ProgressIndicator>(Rect{0, 0, 400, 20});
    bar->startAnimation();  // a new indicator is an indeterminate bar: busy
    alert->setAccessoryView(bar);
    alert->addButtonWithTitle(marigold::tr("Cancel"))->setKeyEquivalent(kEscapeKeyEquivalent);
    auto ended = [&](ModalResponse) {
      if (!ending) giveUp();
    };
    if (window_ && window_->isVisible()) {
      alert->beginSheetModalForWindow(*manager_.window(), ended);
    } else {
      alert->beginSheetModalForWindow(ownWindow, ended);
      standalone = std::make_unique<SheetWidget>(alert, nullptr);
      standalone->setWindowTitle("Marigold");
      standalone->show();
    }
  });
  later.start(kSheetDelayMs);

  events.exec();  // left by the exchange's end, Cancel, Escape or the program quitting

  later.stop();
  if (alert && alert->sheetWindow() != nullptr) {
    ending = true;
    alert->pressButton(0);  // takes the sheet away
  }
  standalone.reset();
  return !gaveUp && finished();
}

}  // namespace marigold::gui
