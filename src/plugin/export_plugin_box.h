// The plug-in's settings box: the pane handed to the host. Return, Enter, line feed and form feed
// typed in the pane are answered as handled and sent to the plug-in's clickExport (which starts
// nothing); other key equivalents go to the pane's controls as in any box.
#pragma once

#include "platform/views.h"
#include "plugin/host_protocol.h"

namespace marigold {

class KZExportPluginBox : public Box, public ExportPluginBoxProtocol {
 public:
  using Box::Box;

  // The plug-in, not owned (the pane's interface definition connects it).
  void setPlugin(ExportPluginProtocol* plugin) { mPlugin = plugin; }

  bool performKeyEquivalent(const KeyEvent& event) override;

 private:
  ExportPluginProtocol* mPlugin = nullptr;
};

}  // namespace marigold
