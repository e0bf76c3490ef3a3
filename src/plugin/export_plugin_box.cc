#include "plugin/export_plugin_box.h"

#include "platform/key_event.h"

namespace marigold {

bool KZExportPluginBox::performKeyEquivalent(const KeyEvent& event) {
  const std::string& characters = event.charactersIgnoringModifiers;
  if (!characters.empty()) {
    switch (characters.front()) {
      case 0x03:  // Enter
      case 0x0A:  // line feed
      case 0x0C:  // form feed
      case 0x0D:  // Return
        if (mPlugin != nullptr) mPlugin->clickExport();
        return true;
      default:
        break;
    }
  }
  return Box::performKeyEquivalent(event);
}

}  // namespace marigold
