// Feeds arbitrary bytes as the characters of a key press to the plug-in's settings box. Only
// Enter, line feed, form feed and Return as the first character are handled; an empty box hands
// every other key on and nobody handles it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/key_event.h"
#include "plugin/export_plugin_box.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static marigold::KZExportPluginBox box;
  const marigold::KeyEvent event{std::string(reinterpret_cast<const char*>(data), size)};
  const bool handled = box.performKeyEquivalent(event);
  const bool returnKey =
      size > 0 && (data[0] == 0x03 || data[0] == 0x0A || data[0] == 0x0C || data[0] == 0x0D);
  if (handled != returnKey) std::abort();
  return 0;
}
