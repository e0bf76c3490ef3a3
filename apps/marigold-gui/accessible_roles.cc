#include "accessible_roles.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "export_window.h"
#include "photo_view.h"
#include "sheet_widget.h"

namespace marigold::gui {
namespace {

QAccessibleInterface* withRole(const QString&, QObject* object) {
  if (auto* sheet = dynamic_cast<SheetWidget*>(object)) {
    return new QAccessibleWidget(sheet, QAccessible::AlertMessage);
  }
  if (auto* window = dynamic_cast<ExportWindow*>(object)) {
    return new QAccessibleWidget(window, QAccessible::Dialog);
  }
  if (auto* photo = dynamic_cast<PhotoView*>(object)) {
    return new QAccessibleWidget(photo, QAccessible::Graphic);
  }
  return nullptr;
}

}  // namespace

void installAccessibleRoles() {
  static const bool installed = [] {
    QAccessible::installFactory(&withRole);
    return true;
  }();
  (void)installed;
}

}  // namespace marigold::gui
