#include "internal_error.h"

#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <string>

#include "base/exception_barrier.h"
#include "base/log.h"
#include "ui_text.h"

namespace marigold::gui {

void showInternalError(QWidget* parent, const std::exception_ptr& exception) noexcept {
  try {
    const std::string what = describeException(exception);
    log("marigold-gui: an operation stopped on an internal error: " + what);
    // Not from inside the slot that failed: the box runs its own event loop.
    QTimer::singleShot(0, [owner = QPointer<QWidget>(parent), what] {
      QMessageBox box(owner.data());
      box.setIcon(QMessageBox::Critical);
      box.setWindowTitle("Marigold");
      box.setText(gui::tr("Marigold stopped an operation that went wrong."));
      box.setInformativeText(QString::fromStdString(what));
      showPlainText(box);
      box.exec();
    });
  } catch (...) {
    // Nothing more can be done without memory; the log line may be all there is.
  }
}

}  // namespace marigold::gui
