// The export dialog around the plug-in's pane, as a photo application has it: the selected photos
// as thumbnails with "Add Photos..." and "Remove", image files dropped on the window added to
// them, the pane, and the host's Post and Cancel buttons. Post follows the host controls that the
// plug-in enables and disables; Cancel stops an upload in progress (the plug-in's cancelExport)
// and otherwise closes the dialog. The plug-in's sheets appear over the window's top edge while
// the rest of the dialog waits. The window closes when the plug-in closes the export window.
// Main thread only.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "host/export_manager.h"
#include "platform/observable.h"
#include "plugin/host_protocol.h"
#include "sheet_widget.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace marigold::gui {

class PaneWidget;

class ExportWindow : public QWidget {
 public:
  ExportWindow(host::ExportManager& manager, ExportPluginProtocol& plugin);
  ~ExportWindow() override;
  ExportWindow(const ExportWindow&) = delete;
  ExportWindow& operator=(const ExportWindow&) = delete;

  // Adds files to the selection (those already in it are skipped) and shows the pane again so
  // that the plug-in recomputes the preview, the limits and the click-through rule; what the user
  // typed into the caption, tags and link stays.
  void addPhotos(const QStringList& paths);
  void removePhotos(const QList<int>& rows);
  // A line above the pane (the demo's account, say); empty hides it.
  void setHint(const QString& text);

  PaneWidget* pane() const { return pane_; }
  QListWidget* thumbnails() const { return thumbnails_; }
  QPushButton* postButton() const { return post_; }
  QPushButton* cancelButton() const { return cancel_; }
  SheetWidget* sheet() const { return sheet_; }  // the sheet in front, if any

  static const QStringList& imageSuffixes();  // the file types the dialog accepts

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void setSelection(std::vector<std::string> paths);
  void refreshThumbnails();
  void choosePhotos();
  void windowChanged();  // sheets come and go; the plug-in may close the window
  void updateButtons();
  void placeSheet();
  bool uploading() const;

  host::ExportManager& manager_;
  ExportPluginProtocol& plugin_;
  QLabel* hint_;
  QListWidget* thumbnails_;
  QPushButton* remove_;
  PaneWidget* pane_;
  QWidget* content_;
  QPushButton* post_;
  QPushButton* cancel_;
  QPointer<SheetWidget> sheet_;
  Subscription windowSubscription_;
  Subscription sheetSubscription_;  // the sheet in front: an upload starts and ends in it
};

}  // namespace marigold::gui
