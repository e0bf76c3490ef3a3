#include "message_box_presenter.h"

#include <QMessageBox>
#include <QPushButton>
#include <vector>

#include "platform/alert.h"
#include "ui_text.h"

namespace marigold::gui {

std::size_t MessageBoxPresenter::presentModal(const Alert& alert) {
  if (taker_ && taker_(alert)) return 0;
  QMessageBox box(parent_);
  box.setWindowTitle("Marigold");
  box.setText(QString::fromStdString(alert.messageText()));
  box.setInformativeText(QString::fromStdString(alert.informativeText()));
  showPlainText(box);  // the texts quote the service and name files
  switch (alert.alertStyle()) {
    case AlertStyle::kInformational:
      box.setIcon(QMessageBox::Information);
      break;
    case AlertStyle::kCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case AlertStyle::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
  }
  std::vector<QPushButton*> buttons;
  for (const auto& button : alert.buttons()) {
    buttons.push_back(
        box.addButton(QString::fromStdString(button->title()),
                      buttons.empty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
  }
  if (buttons.empty()) buttons.push_back(box.addButton(QMessageBox::Ok));
  box.setDefaultButton(buttons.front());
  box.exec();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i]) return i;
  }
  return 0;  // closed without a button: the first one, as the alert's default
}

}  // namespace marigold::gui
