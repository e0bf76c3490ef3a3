// The export dialog around the plug-in's pane, as a photo application has it: the selected photos
// as thumbnails (decoded off the main thread) with "Add Photos..." and "Remove", a line with their
// count and the size they will be sent at against the service's limits, image files dropped on
// the window added to them, the host's "Photo size" and "Remove location and camera details"
// choices, the pane, and the host's Post and Cancel buttons. Post follows the host controls that
// the plug-in enables and disables; Cancel stops an upload in progress (the plug-in's
// cancelExport) and otherwise closes the dialog. The plug-in's sheets appear over the window's top
// edge while the rest of the dialog waits.
//
// Before the plug-in sees a selection, the window runs the export step: every photo prepared
// (SelectionPreparer, off the main thread) at the chosen size into the host's scratch folder; the
// export manager then hands the plug-in the prepared files and the pane is shown again, so that
// its preview, limits and notice judge what will be sent. While that runs the size line says how
// far it got and Post waits; a change of the selection or of a choice starts over, and what the
// older preparation made is thrown away. A photo that cannot be prepared is marked and named
// under the thumbnails, and Post waits until it is removed.
//
// The window keeps the user's work: what the user typed into the caption, tags and link survives
// every change of the selection and every enable or disable, and closing the window with it
// (Escape, Cancel, the window's own close) asks "Discard this post?" first, unless it was posted.
// Ended by a signal (endKeepingDraft) it asks nothing: the work is kept as a PostDraft, which the
// next window offers as it opens ("Restore the post you were writing?"); a post that went through
// or was discarded leaves none.
// After a failed or cancelled post the window stays as it was and offers "Try Again"; after a post
// that went through it offers "View Post" (the blog's address in the desktop's browser) and
// "Close". Photos are reordered by dragging or with Ctrl+Left and Ctrl+Right and the Move buttons
// (the first one is marked as the one shown first) and removed with Delete, which keeps the other
// thumbnails, the selection and the scrolling; Escape closes the window when nothing runs. Tab goes
// as the window reads: the photos column, the pane, then the dialog's buttons. Main thread only.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/export_manager.h"
#include "host/photo_export.h"
#include "host/scratch_folder.h"
#include "platform/observable.h"
#include "platform/user_defaults.h"
#include "plugin/host_protocol.h"
#include "plugin/pane_contract.h"
#include "post_draft.h"
#include "selection_preparer.h"
#include "sheet_widget.h"

class QLabel;
class QMessageBox;
class QListWidget;
class QPushButton;

namespace marigold::gui {

class PaneWidget;
class PreparationControls;

class ExportWindow : public QWidget {
 public:
  // The plug-in reads the prepared photos through `manager`; they are made in `scratch`, which
  // must outlive the window. The chosen photo size is kept in `preferences`.
  ExportWindow(host::ExportManager& manager, ExportPluginProtocol& plugin,
               const host::ScratchFolder& scratch, std::shared_ptr<UserDefaults> preferences,
               std::vector<std::string> photos);
  ~ExportWindow() override;
  ExportWindow(const ExportWindow&) = delete;
  ExportWindow& operator=(const ExportWindow&) = delete;

  // Adds files to the selection (those already in it are skipped) and shows the pane again so
  // that the plug-in recomputes the preview, the limits and the click-through rule.
  void addPhotos(const QStringList& paths);
  void removePhotos(const QList<int>& rows);
  // Ends the window at once, asking nothing: typed work not yet posted is kept as the draft the
  // next window offers; an upload is cancelled.
  void endKeepingDraft();
  // The post as the window holds it now: the photos, the typed texts, the blog and state chosen.
  PostDraft draft() const;
  // The question offering the kept draft while it is up, else null.
  QWidget* draftQuestion() const { return draftQuestion_; }
  QWidget* discardQuestion() const { return discardQuestion_; }

  // A line above the pane (the demo's account, say); empty hides it.
  void setHint(const QString& text);
  // How "View Post" opens an address; the desktop's browser unless replaced (by a test).
  void setUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }
  // The plug-in's reports of an upload: how far it has got (PluginServices::uploadProgressed)
  // and how the export ended (PluginServices::postEnded).
  void uploadProgressed(const pane::UploadProgress& progress);
  void postEnded(const pane::PostOutcome& outcome);
  // An alert the plug-in shows while its upload runs (the connection's error): kept for the
  // failure sheet, which says it once in plain words with the alert's texts behind "Details",
  // rather than in a box of its own. Answers whether it was taken.
  bool takeUploadAlert(const Alert& alert);
  // Whether the plug-in is inside a call that waits (a sign-in): a finished preparation is handed
  // to it only afterwards.
  void setPluginBusy(std::function<bool()> busy) { pluginBusy_ = std::move(busy); }

  // The user's photos (the originals), in the post's order.
  const std::vector<std::string>& selection() const { return selection_; }
  // The preparation the plug-in now reads, if any.
  const std::optional<host::PreparedSelection>& prepared() const { return prepared_; }
  // The running upload as the plug-in last reported it; absent outside an upload.
  const std::optional<pane::UploadProgress>& upload() const { return upload_; }
  // True once the plug-in reads the current selection, prepared with the current choices.
  bool preparationReady() const { return !preparer_.running() && !pending_; }

  PaneWidget* pane() const { return pane_; }
  QListWidget* thumbnails() const { return thumbnails_; }
  QLabel* sizeLine() const { return sizeLine_; }
  QLabel* problemLine() const { return problemLine_; }
  PreparationControls* preparationControls() const { return controls_; }
  QPushButton* postButton() const { return post_; }
  QPushButton* cancelButton() const { return cancel_; }
  SheetWidget* sheet() const { return sheet_; }  // the sheet in front, if any
  // True once the thumbnails of the current selection are all decoded.
  bool thumbnailsReady() const { return decoding_.empty(); }

  static const QStringList& imageSuffixes();  // the file types the dialog accepts

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // A new selection: the pane is shown again so that the plug-in looks at it, and the user's text
  // put back where the pane's reset emptied it.
  void setSelection(std::vector<std::string> paths, bool rebuildThumbnails = true);
  void startPreparation();
  std::string requiredFileTypeFor(const std::vector<std::string>& selection);
  void preparationProgressed(std::size_t done, std::size_t total);
  void preparationFinished(host::PreparedSelection prepared);
  void showPreparation();  // hands a finished preparation to the plug-in when it is free
  void markPreparedPhotos();
  void takeOrderFromList();          // after a drag reordered the thumbnails
  void moveSelectedPhoto(int step);  // -1: one place earlier, 1: one later
  bool hasTypedWork() const;         // a caption, tags or link the user typed
  // The preference keeping the choice of the pane's menu `identifier`; null for other menus.
  static const char* rememberedChoiceKey(const std::string& identifier);
  void chooseRemembered(PopUpButton& menu);
  // What the defaults keep of the menu's chosen item, or of its item at `index`.
  static std::optional<std::string> keptValueOfChoice(const PopUpButton& menu);
  static std::string keptValueOfItem(const PopUpButton& menu, std::size_t index);
  void askToDiscard();  // "Discard this post?"; Discard closes the window
  void offerDraft();    // "Restore the post you were writing?", when one is kept
  void restoreDraft(const PostDraft& draft);
  // A window-modal question with its buttons; screen readers hear `text` as its name.
  QMessageBox* askQuestion(const char* objectName, const QString& text, const QString& informative);
  void orderTabsAsShown();
  void restoreTypedText();
  void refreshThumbnails();
  void decodeThumbnailOf(const QString& file);
  // Whether a selected photo's file changed since its thumbnail was drawn (another file renamed
  // over it, or rewritten, even with its time put back); each changed one is drawn again.
  bool filesChanged();
  void thumbnailDecoded(const QString& file, const QImage& image, const QString& problem);
  void markFirstPhoto();
  void updateSizeLine();
  void choosePhotos();
  void post();
  void watchWindow();
  void windowChanged();  // sheets come and go; the plug-in may close the window
  void runEnded();
  void offerOutcome();
  void explainRefusal(const Alert& upload);  // the sheet's words for a post the service refused
  void showUploadProgress();
  QString timeLeft() const;
  void updateButtons();
  void placeSheet();
  bool uploading() const;
  QUrl postAddress() const;

  host::ExportManager& manager_;
  ExportPluginProtocol& plugin_;
  QLabel* hint_;
  QListWidget* thumbnails_;
  QLabel* sizeLine_;
  QLabel* problemLine_;
  PreparationControls* controls_;
  QPushButton* remove_;
  QPushButton* earlier_;
  QPushButton* later_;
  PaneWidget* pane_;
  QWidget* content_;
  QPushButton* post_;
  QPushButton* cancel_;
  QPointer<SheetWidget> sheet_;
  Subscription windowSubscription_;
  Subscription sheetSubscription_;
  std::vector<Subscription> menuSubscriptions_;                    // the blog and state menus
  std::map<std::string, std::vector<std::string>> listedChoices_;  // their items, as last seen
  std::shared_ptr<UserDefaults>
      preferences_;  // the sheet in front: an upload starts and ends in it

  std::map<std::string, std::string> typed_;    // the user's own text, by field
  std::weak_ptr<Alert> uploadSheet_;            // the sheet of the last post
  std::optional<pane::PostOutcome> lastPost_;   // as the plug-in reported it
  std::optional<pane::UploadProgress> upload_;  // the running upload, as the plug-in reports it
  // The error alert of the last upload, as takeUploadAlert kept it.
  struct UploadAlert {
    QString message;
    QString informative;
    std::optional<Error> error;
  };
  std::optional<UploadAlert> uploadAlert_;
  QElapsedTimer sending_;  // since the upload's first photo bytes went out
  // Photo bytes out by then (ms since `sending_` started), over the last few seconds.
  std::deque<std::pair<qint64, std::uint64_t>> pace_;
  QElapsedTimer detailShown_;        // since the time left was last worked out
  QElapsedTimer lastMoved_;          // since the upload's bytes last moved (or its phase changed)
  QTimer stallClock_;                // ticks while an upload runs, so a stall is counted
  QString shownTimeLeft_;            // "about 12 s left", as last worked out
  QPointer<SheetWidget> offeredOn_;  // the sheet given Cancel during the upload
  bool outcomeOffered_ = false;      // the upload's sheet shows the choices after it
  bool lastPostWentThrough_ = false;
  bool tryAgain_ = false;
  bool signInAgain_ = false;  // Sign In was chosen: focus goes to Password once the run ends
  bool discardAgreed_ = false;
  bool ending_ = false;  // endKeepingDraft: closing asks nothing
  QPointer<QWidget> discardQuestion_;
  QPointer<QWidget> draftQuestion_;
  std::map<std::string, std::string> restoredChoices_;  // a restored draft's blog and state
  bool focusedOnce_ = false;
  std::function<void(const QUrl&)> openUrl_;
  std::function<bool()> pluginBusy_;

  std::vector<std::string> selection_;
  std::optional<host::PreparedSelection> prepared_;  // what the plug-in reads
  std::optional<host::PreparedSelection> pending_;   // finished, not yet handed over
  std::size_t preparedSoFar_ = 0;

  QThreadPool decoders_;
  std::set<QString> decoding_;  // the photos whose thumbnails are on their way
  std::map<QString, std::optional<imaging::FileIdentity>> drawnFrom_;  // each thumbnail's file
  SelectionPreparer preparer_;  // last: stopped and waited for before the rest goes
};

}  // namespace marigold::gui
