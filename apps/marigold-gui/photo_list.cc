#include "photo_list.h"

#include <QFocusEvent>

namespace marigold::gui {

void PhotoList::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  if (count() == 0 || !selectedItems().isEmpty()) return;
  // A focus frame on a photo that is not selected would leave Delete doing nothing.
  QListWidgetItem* current = currentItem() != nullptr ? currentItem() : item(0);
  setCurrentItem(current, QItemSelectionModel::ClearAndSelect);
}

}  // namespace marigold::gui
