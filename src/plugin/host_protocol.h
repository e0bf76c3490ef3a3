// The export-plug-in protocol between a photo application (the host) and an export plug-in. The
// host implements ExportImageProtocol (its export manager: the selected images, the export window,
// its own controls); the plug-in's controller implements ExportPluginProtocol and its settings box
// ExportPluginBoxProtocol. The host talks to a loaded plug-in only through these interfaces. All
// calls happen on the host's main thread, except that the host may read the progress record from
// elsewhere between lockProgress and unlockProgress.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace marigold {

class View;
class Window;
struct KeyEvent;

// Progress of an export as the host shows it. Held by the plug-in, read by the host under the
// plug-in's progress lock.
struct ProgressRecord {
  std::uint64_t currentItem = 0;
  std::uint64_t totalItems = 0;
  std::optional<std::string> message;
  bool indeterminateProgress = false;
  bool shouldCancel = false;
  bool shouldStop = false;
};

// The host's export manager, as the plug-in sees it.
class ExportImageProtocol {
 public:
  virtual ~ExportImageProtocol() = default;

  virtual std::uint32_t imageCount() = 0;                         // images selected for export
  virtual std::string imagePathAtIndex(std::uint32_t index) = 0;  // path of one image's file
  virtual std::shared_ptr<Window> window() = 0;                   // the export dialog's window
  virtual void enableControls() = 0;   // enables the host's own export controls
  virtual void disableControls() = 0;  // disables them
};

// What the host asks of an export plug-in.
class ExportPluginProtocol {
 public:
  virtual ~ExportPluginProtocol() = default;

  virtual std::shared_ptr<View> settingsView() = 0;  // the settings pane shown in the dialog
  virtual std::shared_ptr<View> firstView() = 0;     // the control that takes the focus first
  virtual void viewWillBeActivated() = 0;
  virtual void viewWillBeDeactivated() = 0;
  virtual std::string requiredFileType() = 0;
  virtual bool wantsDestinationPrompt() = 0;
  virtual std::string getDestinationPath() = 0;
  virtual std::string defaultFileName() = 0;
  virtual std::string defaultDirectory() = 0;
  virtual bool treatSingleSelectionDifferently() = 0;
  virtual bool handlesMovieFiles() = 0;
  virtual bool validateUserCreatedPath(const std::string& path) = 0;
  virtual void clickExport() = 0;
  virtual void startExport(const std::string& path) = 0;    // begins the export on the main loop
  virtual void performExport(const std::string& path) = 0;  // the export's body, if any
  virtual ProgressRecord* progress() = 0;                   // valid while the plug-in lives
  virtual void lockProgress() = 0;
  virtual void unlockProgress() = 0;
  virtual void cancelExport() = 0;
  virtual std::string name() = 0;
  // Whether the plug-in holds a sign-in an export can post with: its log-in button then signs
  // out. Hosts ask here rather than read the button, whose title is in the user's language.
  virtual bool signedIn() = 0;
};

// What the host asks of the plug-in's settings box: key equivalents typed in the pane.
class ExportPluginBoxProtocol {
 public:
  virtual ~ExportPluginBoxProtocol() = default;
  virtual bool performKeyEquivalent(const KeyEvent& event) = 0;  // true when handled
};

}  // namespace marigold
