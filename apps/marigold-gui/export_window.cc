#include "export_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <set>
#include <utility>

#include "accessible_roles.h"
#include "base/log.h"
#include "config/service_constants.h"
#include "host/photo_file.h"
#include "host/post_address.h"
#include "image_pixmap.h"
#include "internal_error.h"
#include "pane_widget.h"
#include "photo_list.h"
#include "platform/alert.h"
#include "platform/url_connection.h"
#include "platform/window.h"
#include "preparation_controls.h"
#include "sheet_widget.h"
#include "ui_text.h"

namespace marigold::gui {
namespace {

constexpr int kThumbnailSide = 96;
constexpr int kPathRole = Qt::UserRole;
// The service's limits, as the plug-in's pane judges a selection.
constexpr qint64 kLimitBytes = config::kMaxPostBytes;
constexpr int kLimitPhotos = config::kMaxPostPhotos;
// How far back the time left of an upload looks for its pace.
constexpr qint64 kPaceWindowMs = 2000;
// How long an upload may go without a byte moving before the sheet says it has stalled.
constexpr qint64 kStalledAfterSeconds = 10;

// The texts a user types for the post; they survive the pane being shown again.
constexpr const char* kTypedFields[] = {pane::kCaption, pane::kTags, pane::kClickThrough};

QStringList localImageFiles(const QMimeData& data) {
  QStringList files;
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    const QString file = QFileInfo(url.toLocalFile()).absoluteFilePath();
    if (!host::photoFileProblem(file.toStdString())) files << file;
  }
  return files;
}

QString photoCount(int count) {
  return gui::trn("%1 photo", "%1 photos", static_cast<unsigned long>(count), {number(count)});
}

}  // namespace

const QStringList& ExportWindow::imageSuffixes() {
  static const QStringList suffixes = {"jpg", "jpeg", "png", "gif", "tif", "tiff", "heic"};
  return suffixes;
}

ExportWindow::ExportWindow(host::ExportManager& manager, ExportPluginProtocol& plugin,
                           const host::ScratchFolder& scratch,
                           std::shared_ptr<UserDefaults> preferences,
                           std::vector<std::string> photos)
    : manager_(manager),
      plugin_(plugin),
      openUrl_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      preparer_(
          scratch, *this,
          [this](std::size_t done, std::size_t total) { preparationProgressed(done, total); },
          [this](host::PreparedSelection prepared) { preparationFinished(std::move(prepared)); }) {
  installAccessibleRoles();
  // The program's name follows, as the desktop writes it: "Post to Plinth — Marigold".
  setWindowTitle(gui::tr("Post to Plinth"));
  setAcceptDrops(true);
  decoders_.setMaxThreadCount(2);

  content_ = new QWidget(this);
  auto* photosColumn = new QVBoxLayout;
  auto* photosTitle = new QLabel(gui::tr("P&hotos to post"), content_);
  auto* photosHint =
      new QLabel(gui::tr("Drop image files here; drag a photo to change the order."), content_);
  photosHint->setWordWrap(true);
  thumbnails_ = new PhotoList(content_);
  thumbnails_->setObjectName("thumbnails");
  thumbnails_->setAccessibleName(gui::tr("Photos to post"));
  thumbnails_->setAccessibleDescription(gui::tr("The first photo is shown first in the post."));
  photosTitle->setBuddy(thumbnails_);
  thumbnails_->setViewMode(QListView::IconMode);
  thumbnails_->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
  thumbnails_->setGridSize(QSize(kThumbnailSide + 24, kThumbnailSide + 44));
  thumbnails_->setResizeMode(QListView::Adjust);
  thumbnails_->setWordWrap(true);
  // Static layout with internal moves: a drag reorders the items (and so the post), rather than
  // leaving an icon wherever it was dropped.
  thumbnails_->setMovement(QListView::Static);
  thumbnails_->setDragDropMode(QAbstractItemView::InternalMove);
  thumbnails_->setDefaultDropAction(Qt::MoveAction);
  thumbnails_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  thumbnails_->setMinimumWidth(2 * (kThumbnailSide + 24) + 24);
  sizeLine_ = new QLabel(content_);
  sizeLine_->setObjectName("sizeLine");
  sizeLine_->setTextFormat(Qt::PlainText);
  problemLine_ = new QLabel(content_);
  problemLine_->setObjectName("problemLine");
  problemLine_->setTextFormat(Qt::PlainText);  // it names files, which may hold any characters
  problemLine_->setWordWrap(true);
  problemLine_->setHidden(true);
  preferences_ = preferences;
  controls_ = new PreparationControls(std::move(preferences), content_);
  controls_->setChangeHandler([this] { startPreparation(); });
  auto* add = new QPushButton(gui::tr("&Add Photos..."), content_);
  add->setAutoDefault(false);
  remove_ = new QPushButton(gui::tr("&Remove"), content_);
  remove_->setObjectName("remove");
  remove_->setAutoDefault(false);
  auto* photoButtons = new QHBoxLayout;
  photoButtons->addWidget(add);
  photoButtons->addWidget(remove_);
  photoButtons->addStretch(1);
  // Reordering by keyboard: the buttons say what Ctrl+Left and Ctrl+Right do in the list.
  earlier_ = new QPushButton(gui::tr("Move &Earlier"), content_);
  earlier_->setObjectName("moveEarlier");
  earlier_->setToolTip(gui::tr("Move the selected photo earlier in the post (Ctrl+Left)"));
  later_ = new QPushButton(gui::tr("Mo&ve Later"), content_);
  later_->setObjectName("moveLater");
  later_->setToolTip(gui::tr("Move the selected photo later in the post (Ctrl+Right)"));
  auto* moveButtons = new QHBoxLayout;
  for (QPushButton* move : {earlier_, later_}) {
    move->setAutoDefault(false);
    moveButtons->addWidget(move);
  }
  moveButtons->addStretch(1);
  photosColumn->addWidget(photosTitle);
  photosColumn->addWidget(photosHint);
  photosColumn->addWidget(thumbnails_, 1);
  photosColumn->addWidget(sizeLine_);
  photosColumn->addWidget(problemLine_);
  photosColumn->addLayout(photoButtons);
  photosColumn->addLayout(moveButtons);
  photosColumn->addSpacing(6);
  photosColumn->addWidget(controls_);

  hint_ = new QLabel(content_);
  hint_->setObjectName("hint");
  hint_->setWordWrap(true);
  hint_->setHidden(true);
  pane_ = new PaneWidget(plugin_, content_);
  // As wide as its rows need in the language shown: a fixed minimum would let longer titles
  // (German, Japanese) be cut, the window no wider than it.
  pane_->setEditHandler([this](const std::string& identifier, const std::string& text) {
    for (const char* typed : kTypedFields) {
      if (identifier == typed) typed_[identifier] = text;
    }
  });
  // The blog and the state chosen last are kept beside the photo size, and chosen again when the
  // menus list them (after each sign-in).
  pane_->setChoiceHandler([this](const std::string& identifier, const std::string&) {
    const auto menu = std::dynamic_pointer_cast<PopUpButton>(
        plugin_.settingsView()->viewWithIdentifier(identifier));
    const char* key = rememberedChoiceKey(identifier);
    if (!menu || key == nullptr) return;
    if (const auto chosen = keptValueOfChoice(*menu)) {
      preferences_->setObject(*chosen, key);
      // A store that cannot be written has logged why; the choice holds for this window.
      [[maybe_unused]] const bool kept = preferences_->synchronize();
    }
  });
  for (const char* identifier : {pane::kBlogMenu, pane::kStateMenu}) {
    auto menu = std::dynamic_pointer_cast<PopUpButton>(
        plugin_.settingsView()->viewWithIdentifier(identifier));
    if (!menu) continue;
    std::weak_ptr<PopUpButton> weak = menu;
    menuSubscriptions_.push_back(menu->onChange([this, weak] {
      if (auto shown = weak.lock()) chooseRemembered(*shown);
    }));
    chooseRemembered(*menu);
  }
  auto* paneColumn = new QVBoxLayout;
  paneColumn->addWidget(hint_);
  paneColumn->addWidget(pane_, 1);

  // The photos take the room a larger window gives; the form keeps its size.
  auto* columns = new QHBoxLayout(content_);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->addLayout(photosColumn, 1);
  columns->addLayout(paneColumn, 0);

  auto* buttons = new QDialogButtonBox(this);
  cancel_ = buttons->addButton(gui::tr("Ca&ncel"), QDialogButtonBox::RejectRole);
  post_ = buttons->addButton(gui::tr("&Post"), QDialogButtonBox::AcceptRole);
  post_->setObjectName("post");
  cancel_->setObjectName("cancel");
  post_->setAutoDefault(false);
  cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(content_, 1);
  layout->addWidget(buttons);

  connect(add, &QPushButton::clicked, this, [this] { choosePhotos(); });
  auto removeSelected = [this] {
    QList<int> rows;
    for (const QListWidgetItem* item : thumbnails_->selectedItems()) rows << thumbnails_->row(item);
    if (!rows.isEmpty()) removePhotos(rows);
  };
  connect(remove_, &QPushButton::clicked, this, removeSelected);
  auto* deleteKey = new QShortcut(QKeySequence::Delete, thumbnails_);
  deleteKey->setContext(Qt::WidgetShortcut);
  connect(deleteKey, &QShortcut::activated, this, removeSelected);
  connect(earlier_, &QPushButton::clicked, this, [this] { moveSelectedPhoto(-1); });
  connect(later_, &QPushButton::clicked, this, [this] { moveSelectedPhoto(1); });
  for (const auto& [keys, step] : {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Left), -1},
                                   std::pair{QKeySequence(Qt::CTRL | Qt::Key_Right), 1}}) {
    auto* move = new QShortcut(keys, thumbnails_);
    move->setContext(Qt::WidgetShortcut);
    connect(move, &QShortcut::activated, this, [this, step = step] { moveSelectedPhoto(step); });
  }
  connect(thumbnails_, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
  connect(thumbnails_, &QListWidget::currentRowChanged, this, [this] { updateButtons(); });
  // The list's model moves the rows while the drop is still being handled: look afterwards.
  connect(thumbnails_->model(), &QAbstractItemModel::rowsMoved, this,
          [this] { QTimer::singleShot(0, this, [this] { takeOrderFromList(); }); });
  connect(post_, &QPushButton::clicked, this, [this] { guardedSlot(this, [this] { post(); }); });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (uploading()) {
      plugin_.cancelExport();
    } else {
      close();
    }
  });
  manager_.setControlsHandler([this](bool) { updateButtons(); });
  // A stalled upload sends no reports: the sheet's count of seconds goes on by the clock.
  stallClock_.setInterval(1000);
  connect(&stallClock_, &QTimer::timeout, this, [this] {
    if (uploading()) {
      showUploadProgress();
    } else {
      stallClock_.stop();
    }
  });
  watchWindow();

  windowChanged();
  setSelection(std::move(photos));
  resize(940, 560);
}

ExportWindow::~ExportWindow() {
  preparer_.stop();
  if (pending_) discardPreparation(*pending_);
  decoders_.clear();
  decoders_.waitForDone();
  manager_.setControlsHandler(nullptr);
  menuSubscriptions_.clear();
  windowSubscription_.cancel();
  sheetSubscription_.cancel();
}

void ExportWindow::addPhotos(const QStringList& paths) {
  std::vector<std::string> selection = selection_;
  for (const QString& path : paths) {
    std::string file = QFileInfo(path).absoluteFilePath().toStdString();
    if (host::photoFileProblem(file)) continue;  // judged by its first bytes, as every host does
    if (std::find(selection.begin(), selection.end(), file) == selection.end()) {
      selection.push_back(std::move(file));
    }
  }
  setSelection(std::move(selection));
}

void ExportWindow::removePhotos(const QList<int>& rows) {
  std::vector<std::string> selection;
  for (int i = 0; i < static_cast<int>(selection_.size()); ++i) {
    if (!rows.contains(i)) selection.push_back(selection_[i]);
  }
  setSelection(std::move(selection));
}

void ExportWindow::takeOrderFromList() {
  std::vector<std::string> order;
  for (int row = 0; row < thumbnails_->count(); ++row) {
    order.push_back(thumbnails_->item(row)->data(kPathRole).toString().toStdString());
  }
  if (order != selection_) setSelection(std::move(order), false);
}

const char* ExportWindow::rememberedChoiceKey(const std::string& identifier) {
  if (identifier == pane::kBlogMenu) return "lastBlog";
  if (identifier == pane::kStateMenu) return "lastState";
  return nullptr;
}

void ExportWindow::chooseRemembered(PopUpButton& menu) {
  // Once per list of items: a list the menu shows anew (a sign-in filled it) gets the kept choice;
  // what the user chooses afterwards stands.
  std::vector<std::string>& seen = listedChoices_[menu.identifier()];
  if (menu.itemTitles() == seen) return;
  seen = menu.itemTitles();
  const char* key = rememberedChoiceKey(menu.identifier());
  const auto kept = key ? preferences_->objectForKey(key) : std::nullopt;
  const std::string* value = kept ? kept->get<std::string>() : nullptr;
  // A restored draft's choice comes before the one kept for every window.
  if (const auto restored = restoredChoices_.find(menu.identifier());
      restored != restoredChoices_.end() && !restored->second.empty()) {
    value = &restored->second;
  }
  if (value == nullptr) return;
  for (std::size_t i = 0; i < menu.numberOfItems(); ++i) {
    if (keptValueOfItem(menu, i) == *value) {
      if (menu.indexOfSelectedItem() != i) menu.selectItemAtIndex(i);
      return;
    }
  }
}

std::optional<std::string> ExportWindow::keptValueOfChoice(const PopUpButton& menu) {
  const auto chosen = menu.indexOfSelectedItem();
  if (!chosen) return std::nullopt;
  return keptValueOfItem(menu, *chosen);
}

std::string ExportWindow::keptValueOfItem(const PopUpButton& menu, std::size_t index) {
  // A blog is kept by its name; a state by its English name, which the menu shows in the user's
  // language, so that the choice outlives a change of language.
  if (menu.identifier() == pane::kStateMenu) {
    return index < std::size(pane::kPostStates) ? pane::kPostStates[index] : "";
  }
  return index < menu.numberOfItems() ? menu.itemTitles()[index] : "";
}

void ExportWindow::moveSelectedPhoto(int step) {
  const int row = thumbnails_->currentRow();
  const int to = row + step;
  if (sheet_ || row < 0 || to < 0 || to >= thumbnails_->count()) return;
  // The item moves with its picture; the list's order is the post's.
  QListWidgetItem* item = thumbnails_->takeItem(row);
  thumbnails_->insertItem(to, item);
  thumbnails_->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
  takeOrderFromList();
}

void ExportWindow::orderTabsAsShown() {
  // Tab goes as the eye reads: the photos column from the top, then the pane's rows, then the
  // dialog's buttons from the left.
  std::vector<QWidget*> chain = {thumbnails_};
  for (QPushButton* button : content_->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
    chain.push_back(button);
  }
  std::stable_sort(chain.begin() + 1, chain.end(), [this](QWidget* a, QWidget* b) {
    const QPoint pa = a->mapTo(this, QPoint());
    const QPoint pb = b->mapTo(this, QPoint());
    return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
  });
  for (QWidget* control : controls_->findChildren<QWidget*>()) {
    if (control->focusPolicy() & Qt::TabFocus) chain.push_back(control);
  }
  for (QWidget* field : pane_->inScreenOrder()) chain.push_back(field);
  std::vector<QWidget*> buttons = {post_, cancel_};
  std::sort(buttons.begin(), buttons.end(), [this](QWidget* a, QWidget* b) {
    return a->mapTo(this, QPoint()).x() < b->mapTo(this, QPoint()).x();
  });
  chain.insert(chain.end(), buttons.begin(), buttons.end());
  for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

void ExportWindow::setHint(const QString& text) {
  hint_->setText(text);
  hint_->setHidden(text.isEmpty());
}

void ExportWindow::setSelection(std::vector<std::string> paths, bool rebuildThumbnails) {
  selection_ = std::move(paths);
  if (rebuildThumbnails) {
    refreshThumbnails();
  } else {
    markFirstPhoto();
  }
  startPreparation();
}

void ExportWindow::startPreparation() {
  if (pending_) discardPreparation(*std::exchange(pending_, std::nullopt));
  imaging::PreparationOptions options = controls_->options();
  options.requiredFileType = requiredFileTypeFor(selection_);
  preparedSoFar_ = 0;
  preparer_.start(selection_, options);
  updateSizeLine();
  updateButtons();
}

std::string ExportWindow::requiredFileTypeFor(const std::vector<std::string>& selection) {
  // The plug-in answers for the photos the export manager holds; for the question it holds the
  // selection about to be prepared, then again the files it reads now.
  std::vector<std::string> shown = manager_.photoPaths();
  manager_.setPhotoPaths(selection);
  std::string type = plugin_.requiredFileType();
  manager_.setPhotoPaths(std::move(shown));
  return type;
}

void ExportWindow::preparationProgressed(std::size_t done, std::size_t /*total*/) {
  preparedSoFar_ = done;
  updateSizeLine();
}

void ExportWindow::preparationFinished(host::PreparedSelection prepared) {
  if (pending_) discardPreparation(*pending_);
  pending_ = std::move(prepared);
  showPreparation();
}

void ExportWindow::showPreparation() {
  if (!pending_) return;
  // Not under a sign-in that waits in a nested event loop: its pane must not be reset under it.
  if (pluginBusy_ && pluginBusy_()) {
    QTimer::singleShot(50, this, [this] { showPreparation(); });
    return;
  }
  std::optional<host::PreparedSelection> replaced = std::exchange(prepared_, std::nullopt);
  prepared_ = std::exchange(pending_, std::nullopt);
  manager_.setPhotoPaths(prepared_->paths());
  plugin_.viewWillBeActivated();
  restoreTypedText();
  // The plug-in read what it needed of the old files when the pane was shown and at an export.
  if (replaced) discardPreparation(*replaced);
  markPreparedPhotos();
  updateSizeLine();
  updateButtons();
}

void ExportWindow::markPreparedPhotos() {
  QStringList problems;
  for (const imaging::PreparedPhoto& photo : prepared_->result.photos) {
    const QString file = QString::fromStdString(photo.source);
    const QString name = QFileInfo(file).fileName();
    QString tip = file + "\n";
    if (photo.ok()) {
      tip += gui::tr("Sent as %1 x %2 pixels, %3",
                     {number(photo.width), number(photo.height), byteSize(photo.bytes)});
    } else {
      tip += QString::fromStdString(photo.problem);
      problems << gui::tr("%1 %2.", {name, QString::fromStdString(photo.problem)});
    }
    for (int row = 0; row < thumbnails_->count(); ++row) {
      QListWidgetItem* item = thumbnails_->item(row);
      if (item->data(kPathRole).toString() != file) continue;
      item->setToolTip(plainToolTip(tip));
      if (!photo.ok()) item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    }
  }
  if (!problems.isEmpty()) {
    problems << (problems.size() == 1 ? gui::tr("Remove it to post the others.")
                                      : gui::tr("Remove them to post the others."));
  }
  problemLine_->setText(problems.join(" "));
  problemLine_->setHidden(problems.isEmpty());
}

void ExportWindow::restoreTypedText() {
  // The pane's reset empties the caption and tags (and the link, or puts the photo-set notice in
  // it); what the user typed goes back into every field the reset left empty, enabled or not.
  auto settings = plugin_.settingsView();
  for (const auto& [identifier, text] : typed_) {
    auto field = std::dynamic_pointer_cast<TextField>(settings->viewWithIdentifier(identifier));
    if (field && field->stringValue().empty() && !text.empty()) field->setStringValue(text);
  }
}

void ExportWindow::refreshThumbnails() {
  // The photos still selected keep their items: their pictures, their place in the selection and
  // the list's scroll position stay; only photos new to the list are decoded.
  QScrollBar* scroll = thumbnails_->verticalScrollBar();
  const int scrolled = scroll->value();
  const std::set<std::string> wanted(selection_.begin(), selection_.end());
  int removedAt = -1;
  for (int row = thumbnails_->count() - 1; row >= 0; --row) {
    const QString file = thumbnails_->item(row)->data(kPathRole).toString();
    if (wanted.count(file.toStdString()) != 0) continue;
    delete thumbnails_->takeItem(row);
    decoding_.erase(file);
    drawnFrom_.erase(file);
    removedAt = row;
  }
  std::vector<std::string> listed;
  for (int row = 0; row < thumbnails_->count(); ++row) {
    listed.push_back(thumbnails_->item(row)->data(kPathRole).toString().toStdString());
  }
  if (!std::equal(listed.begin(), listed.end(), selection_.begin(),
                  selection_.begin() +
                      static_cast<std::ptrdiff_t>(std::min(listed.size(), selection_.size())))) {
    // Another order than the list's (not the user's drag, which the list already shows): anew.
    thumbnails_->clear();
    decoding_.clear();
    drawnFrom_.clear();
    listed.clear();
  }
  const QIcon waiting = style()->standardIcon(QStyle::SP_FileIcon);
  problemLine_->setHidden(true);
  for (std::size_t i = listed.size(); i < selection_.size(); ++i) {
    const QString file = QString::fromStdString(selection_[i]);
    auto* item = new QListWidgetItem(waiting, QFileInfo(file).fileName(), thumbnails_);
    item->setData(kPathRole, file);
    item->setToolTip(plainToolTip(file));
    decodeThumbnailOf(file);
  }
  // After a removal the photo that took its place is selected, so that Delete goes on.
  if (removedAt >= 0 && thumbnails_->count() > 0 && thumbnails_->selectedItems().isEmpty()) {
    thumbnails_->setCurrentRow(std::min(removedAt, thumbnails_->count() - 1),
                               QItemSelectionModel::ClearAndSelect);
  }
  thumbnails_->doItemsLayout();
  scroll->setValue(std::min(scrolled, scroll->maximum()));
  markFirstPhoto();
  updateButtons();
}

void ExportWindow::decodeThumbnailOf(const QString& file) {
  if (!decoding_.insert(file).second) return;  // already on its way
  drawnFrom_[file] = imaging::FileIdentity::of(file.toStdString());
  // Decoded on a worker: a camera's photos of many megabytes never hold the window up.
  const qreal ratio = devicePixelRatioF();
  decoders_.start([this, file, ratio] {
    QString problem;
    QImage image = imageOfFile(file, QSize(kThumbnailSide, kThumbnailSide), ratio, &problem);
    QMetaObject::invokeMethod(
        this, [this, file, image, problem] { thumbnailDecoded(file, image, problem); },
        Qt::QueuedConnection);
  });
}

bool ExportWindow::filesChanged() {
  bool changed = false;
  for (const std::string& path : selection_) {
    const QString file = QString::fromStdString(path);
    const auto drawn = drawnFrom_.find(file);
    if (drawn == drawnFrom_.end() || decoding_.count(file) != 0) continue;
    if (drawn->second == imaging::FileIdentity::of(path)) continue;
    changed = true;
    decodeThumbnailOf(file);
  }
  return changed;
}

void ExportWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Back from an editor: a photo changed meanwhile is shown and prepared again, never posted as
  // it was.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && filesChanged()) {
    startPreparation();
  }
}

void ExportWindow::thumbnailDecoded(const QString& file, const QImage& image,
                                    const QString& problem) {
  if (decoding_.erase(file) == 0) return;  // removed from the selection meanwhile
  for (int row = 0; row < thumbnails_->count(); ++row) {
    QListWidgetItem* item = thumbnails_->item(row);
    if (item->data(kPathRole).toString() != file) continue;
    if (image.isNull()) {
      item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
      item->setToolTip(plainToolTip(
          file + "\n" + gui::tr("This file cannot be shown as an image: %1", {problem})));
      continue;
    }
    // The same colours while a sheet disables the window, rather than Qt's greyed copy.
    const QPixmap pixmap = QPixmap::fromImage(image);
    QIcon icon(pixmap);
    icon.addPixmap(pixmap, QIcon::Disabled);
    item->setIcon(icon);
  }
  // A thumbnail less tall than the placeholder moves its label up; the view repaints only the
  // item's new, smaller place, which would leave the old label drawn below it.
  thumbnails_->viewport()->update();
}

void ExportWindow::markFirstPhoto() {
  for (int row = 0; row < thumbnails_->count(); ++row) {
    QListWidgetItem* item = thumbnails_->item(row);
    const QString name = QFileInfo(item->data(kPathRole).toString()).fileName();
    item->setText(row == 0 ? gui::tr("%1\nshown first", {name}) : name);
    item->setData(Qt::AccessibleTextRole, row == 0 ? gui::tr("%1, shown first", {name}) : name);
  }
}

void ExportWindow::updateSizeLine() {
  const int count = static_cast<int>(selection_.size());
  if (!preparationReady()) {
    // The photo being worked on, counted from 1.
    const std::size_t at = std::min(preparedSoFar_ + 1, selection_.size());
    sizeLine_->setText(
        gui::tr("Preparing %1 of %2…", {number(static_cast<long long>(at)), number(count)}));
    return;
  }
  // What will be sent: the prepared files, as the plug-in's limit counts them.
  const qint64 total = prepared_ ? static_cast<qint64>(prepared_->result.totalBytes()) : 0;
  sizeLine_->setText(
      gui::tr("%1 · %2 of %3 · at most %4",
              {photoCount(count), byteSize(total), byteSize(kLimitBytes), number(kLimitPhotos)}));
}

void ExportWindow::choosePhotos() {
  QStringList patterns;
  for (const QString& suffix : imageSuffixes()) patterns << "*." + suffix;
  const QString filter = gui::tr("Images (%1)", {patterns.join(' ')});
  const QStringList files =
      QFileDialog::getOpenFileNames(this, gui::tr("Add Photos"), QString(), filter);
  if (!files.isEmpty()) addPhotos(files);
}

void ExportWindow::post() {
  if (filesChanged()) {
    // Prepared from what the files were: prepared again first, and Post waits for it.
    startPreparation();
    return;
  }
  lastPostWentThrough_ = false;
  lastPost_.reset();
  upload_.reset();
  uploadSheet_.reset();
  uploadAlert_.reset();
  outcomeOffered_ = false;
  offeredOn_ = nullptr;
  shownTimeLeft_.clear();
  // An upload is reported before its sheet comes up (windowChanged takes it as the upload's); a
  // refusal comes without.
  plugin_.startExport("");
  updateButtons();
}

void ExportWindow::uploadProgressed(const pane::UploadProgress& progress) {
  const bool phaseChanged = !upload_ || upload_->phase != progress.phase;
  if (!upload_) sending_.invalidate();
  if (progress.phase == pane::UploadProgress::Phase::kSending) {
    if (!sending_.isValid()) {
      sending_.start();
      pace_.clear();
    }
    // The pace of the last few seconds: the first moments fill the connection's buffers far
    // faster than the service reads, and would promise an end that does not come.
    const qint64 now = sending_.elapsed();
    pace_.emplace_back(now, progress.photoBytesSent);
    while (pace_.size() > 2 && pace_.front().first < now - kPaceWindowMs) pace_.pop_front();
  }
  // The upload moves while bytes go out or its phase changes; its stall is counted from then.
  if (phaseChanged || !upload_ || progress.photoBytesSent != upload_->photoBytesSent ||
      !lastMoved_.isValid()) {
    lastMoved_.start();
  }
  if (!stallClock_.isActive()) stallClock_.start();
  upload_ = progress;
  if (phaseChanged) {
    detailShown_.invalidate();
    updateButtons();
  } else {
    showUploadProgress();
  }
}

bool ExportWindow::takeUploadAlert(const Alert& alert) {
  if (!uploading()) return false;
  uploadAlert_ = UploadAlert{QString::fromStdString(alert.messageText()),
                             QString::fromStdString(alert.informativeText()), alert.error()};
  return true;
}

void ExportWindow::postEnded(const pane::PostOutcome& outcome) {
  lastPost_ = outcome;
  upload_.reset();
  sending_.invalidate();
  lastMoved_.invalidate();
  stallClock_.stop();
  // The sheet's choices come now; the plug-in goes on to end the sheet's bar and enable the
  // button that the choices press.
  updateButtons();
}

void ExportWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData() && !localImageFiles(*event->mimeData()).isEmpty() && !sheet_) {
    event->acceptProposedAction();
  }
}

void ExportWindow::dropEvent(QDropEvent* event) {
  if (!event->mimeData() || sheet_) return;
  const QStringList files = localImageFiles(*event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  addPhotos(files);
}

void ExportWindow::closeEvent(QCloseEvent* event) {
  // Typed work is not thrown away unasked; after a post it is in the post.
  if (!ending_ && !discardAgreed_ && !lastPostWentThrough_ && hasTypedWork()) {
    event->ignore();
    askToDiscard();
    return;
  }
  if (uploading()) plugin_.cancelExport();  // nothing goes on being sent behind a closed window
  preparer_.stop();
  // A draft still being offered stays for the next window; otherwise this window's work was
  // posted, discarded or kept just now.
  if (!ending_ && !draftQuestion_) forgetDraft();
  event->accept();
}

void ExportWindow::endKeepingDraft() {
  ending_ = true;
  if (!lastPostWentThrough_ && hasTypedWork()) {
    if (const auto failed = keepDraft(draft())) {
      log("The post being written could not be kept: " + failed->description);
    }
  } else if (!draftQuestion_) {
    forgetDraft();
  }
  for (QWidget* question : {discardQuestion_.data(), draftQuestion_.data()}) {
    if (question != nullptr) question->close();
  }
  close();
}

PostDraft ExportWindow::draft() const {
  PostDraft draft;
  draft.photos = selection_;
  auto typed = [this](const char* identifier) {
    const auto found = typed_.find(identifier);
    return found != typed_.end() ? found->second : std::string();
  };
  draft.caption = typed(pane::kCaption);
  draft.tags = typed(pane::kTags);
  draft.link = typed(pane::kClickThrough);
  for (const auto& [identifier, value] :
       {std::pair{pane::kBlogMenu, &draft.blog}, std::pair{pane::kStateMenu, &draft.state}}) {
    const auto menu = std::dynamic_pointer_cast<PopUpButton>(
        plugin_.settingsView()->viewWithIdentifier(identifier));
    const auto chosen = menu && menu->numberOfItems() > 0 ? keptValueOfChoice(*menu) : std::nullopt;
    const auto restored = restoredChoices_.find(identifier);
    *value = chosen ? *chosen : restored != restoredChoices_.end() ? restored->second : "";
  }
  return draft;
}

QMessageBox* ExportWindow::askQuestion(const char* objectName, const QString& text,
                                       const QString& informative) {
  auto* question =
      new QMessageBox(QMessageBox::Question, windowTitle(), text, QMessageBox::NoButton, this);
  question->setObjectName(objectName);
  question->setInformativeText(informative);
  showPlainText(*question);
  // A screen reader announces the question by its own words, not by the window's title.
  question->setAccessibleName(text);
  question->setAccessibleDescription(informative);
  question->setWindowModality(Qt::WindowModal);
  question->setAttribute(Qt::WA_DeleteOnClose);
  return question;
}

void ExportWindow::offerDraft() {
  const auto kept = keptDraft();
  if (!kept) return;
  QMessageBox* question = askQuestion(
      "draftQuestion", gui::tr("Restore the post you were writing?"),
      gui::tr("Marigold ended before this post was sent; its photos, caption, tags and link were "
              "kept."));
  QPushButton* restore = question->addButton(gui::tr("&Restore"), QMessageBox::AcceptRole);
  QPushButton* discard = question->addButton(gui::tr("&Discard"), QMessageBox::DestructiveRole);
  // Restoring loses nothing: Return and Escape restore.
  question->setDefaultButton(restore);
  question->setEscapeButton(restore);
  connect(question, &QMessageBox::buttonClicked, this,
          [this, draft = *kept, discard](QAbstractButton* pressed) {
            if (pressed == discard) {
              forgetDraft();
            } else {
              restoreDraft(draft);
            }
          });
  draftQuestion_ = question;
  question->open();
}

void ExportWindow::restoreDraft(const PostDraft& draft) {
  typed_[pane::kCaption] = draft.caption;
  typed_[pane::kTags] = draft.tags;
  typed_[pane::kClickThrough] = draft.link;
  restoredChoices_[pane::kBlogMenu] = draft.blog;
  restoredChoices_[pane::kStateMenu] = draft.state;
  for (const char* identifier : {pane::kBlogMenu, pane::kStateMenu}) {
    listedChoices_.erase(identifier);
    if (auto menu = std::dynamic_pointer_cast<PopUpButton>(
            plugin_.settingsView()->viewWithIdentifier(identifier))) {
      chooseRemembered(*menu);
    }
  }
  // The draft's photos that are still there, in its order, then those this window was opened with.
  std::vector<std::string> photos;
  for (const std::string& photo : draft.photos) {
    if (!host::photoFileProblem(photo)) photos.push_back(photo);
  }
  for (const std::string& photo : selection_) {
    if (std::find(photos.begin(), photos.end(), photo) == photos.end()) photos.push_back(photo);
  }
  restoreTypedText();
  setSelection(std::move(photos));
}

bool ExportWindow::hasTypedWork() const {
  return std::any_of(typed_.begin(), typed_.end(),
                     [](const auto& field) { return !field.second.empty(); });
}

void ExportWindow::askToDiscard() {
  if (discardQuestion_) {
    discardQuestion_->raise();
    return;
  }
  QMessageBox* question =
      askQuestion("discardQuestion", gui::tr("Discard this post?"),
                  gui::tr("The caption, tags and link you typed will be lost."));
  QPushButton* discard = question->addButton(gui::tr("&Discard"), QMessageBox::DestructiveRole);
  QPushButton* keep = question->addButton(gui::tr("&Keep Editing"), QMessageBox::RejectRole);
  // Keeping the work is the safe choice: Return and Escape keep editing.
  question->setDefaultButton(keep);
  question->setEscapeButton(keep);
  connect(question, &QMessageBox::buttonClicked, this, [this, discard](QAbstractButton* pressed) {
    if (pressed != discard) return;
    discardAgreed_ = true;
    forgetDraft();
    QTimer::singleShot(0, this, [this] { close(); });
  });
  discardQuestion_ = question;
  question->open();
}

void ExportWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeSheet();
}

void ExportWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (std::exchange(focusedOnce_, true)) return;
  orderTabsAsShown();
  if (!sheet_) pane_->focusFirstEmptyField();
  // Over the window once it is on the screen.
  QTimer::singleShot(0, this, [this] { offerDraft(); });
}

void ExportWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) {
    QWidget::keyPressEvent(event);
    return;
  }
  // A sheet answers Escape itself; what reaches the window stops an upload or closes it.
  event->accept();
  if (uploading()) {
    plugin_.cancelExport();
  } else if (!sheet_) {
    close();
  }
}

void ExportWindow::watchWindow() {
  windowSubscription_ = manager_.window()->onChange([this] { windowChanged(); });
}

void ExportWindow::windowChanged() {
  const auto& window = *manager_.window();
  const auto& sheets = window.sheets();
  const std::shared_ptr<Alert> front = sheets.empty() ? nullptr : sheets.back();
  if (!sheet_ || sheet_->alert() != front) {
    // The old sheet may be the one whose button is being pressed right now: let Qt finish first.
    if (sheet_) {
      sheet_->hide();
      sheet_->deleteLater();
    }
    sheet_ = front ? new SheetWidget(front, this) : nullptr;
    sheetSubscription_ = front ? front->onChange([this] { updateButtons(); }) : Subscription();
    // The sheet that comes up during an upload is the upload's; its heading is set before it shows.
    if (front && upload_ && uploadSheet_.expired()) uploadSheet_ = front;
    showUploadProgress();
    if (sheet_) {
      sheet_->show();
      sheet_->raise();
    }
    placeSheet();
  }
  content_->setEnabled(!sheet_);
  updateButtons();
  if (!sheet_ && focusedOnce_ && isVisible()) {
    const QWidget* focused = focusWidget();
    if (focused == nullptr || !focused->isEnabled() || !focused->isVisible()) {
      if (!pane_->focusFirstEmptyField()) thumbnails_->setFocus(Qt::OtherFocusReason);
    }
  }
  if (window.isClosed()) runEnded();
}

void ExportWindow::runEnded() {
  windowSubscription_.cancel();
  if (lastPostWentThrough_) {
    close();
    return;
  }
  // The plug-in ended its run after a failure, a cancel or a refusal. The window keeps the
  // photos and the pane as they are, with a fresh export window for the next run; "Try Again"
  // starts it at once. Not from inside the plug-in's own call that closed the window.
  QTimer::singleShot(0, this, [this] {
    manager_.reopenWindow();
    watchWindow();
    windowChanged();
    if (std::exchange(tryAgain_, false) && post_->isEnabled()) post();
    if (std::exchange(signInAgain_, false) && !pane_->focusPassword())
      pane_->focusFirstEmptyField();
  });
}

void ExportWindow::offerOutcome() {
  const auto upload = uploadSheet_.lock();
  if (!sheet_ || !upload || sheet_->alert() != upload || !lastPost_) return;  // still sending
  if (std::exchange(outcomeOffered_, true)) return;
  lastPostWentThrough_ = lastPost_ && lastPost_->posted();
  if (lastPostWentThrough_) forgetDraft();  // the work is on the blog now
  std::weak_ptr<Alert> weak = upload;
  auto endRun = [weak] {
    if (auto alert = weak.lock()) alert->pressButton(0);
  };
  std::vector<SheetWidget::Action> actions;
  if (lastPostWentThrough_) {
    if (const QUrl address = postAddress(); address.isValid()) {
      actions.push_back({gui::tr("&View Post"), [this, address] { openUrl_(address); }});
    }
    actions.push_back({gui::tr("&Close"), endRun});
    const std::size_t close = actions.size() - 1;
    sheet_->setActions(std::move(actions), close, close);
  } else {
    if (uploadAlert_) {
      // The connection's error, said once: what happened in plain words, the alert's own texts
      // (the address, the network library's words and code) behind Details.
      const QString reason =
          uploadAlert_->error && uploadAlert_->error->domain == kURLLoadingErrorDomain
              ? QString::fromStdString(failureReason(*uploadAlert_->error))
              : uploadAlert_->message;
      sheet_->setHeading(
          gui::tr("The post failed: the connection to Plinth broke off (%1).", {reason}),
          lastPost_->wholePostSent ? gui::tr("The whole post had been sent, so it may already be "
                                             "on your blog. Check it before you try again.")
                                   : gui::tr("Nothing was posted. Check your connection, then "
                                             "try again."));
      QString details = uploadAlert_->message;
      if (!uploadAlert_->informative.isEmpty()) details += "\n" + uploadAlert_->informative;
      sheet_->setDetails(details);
    }
    const int status = lastPost_->refusalStatus;
    if (status != 0) explainRefusal(*upload);
    actions.push_back({gui::tr("&OK"), endRun});
    if (lastPost_->signInRefused || status == 401 || status == 403) {
      // Trying again with the same sign-in cannot work: signing in again can.
      actions.push_back({gui::tr("&Sign In"), [this, endRun] {
                           signInAgain_ = true;
                           endRun();
                         }});
    } else if (status == 0 || lastPost_->worthSendingLater) {
      actions.push_back({gui::tr("&Try Again"), [this, endRun] {
                           tryAgain_ = true;
                           endRun();
                         }});
    }
    // The work stays in the window: OK is the safe choice, Try Again only when chosen.
    sheet_->setActions(std::move(actions), 0, 0);
  }
}

void ExportWindow::explainRefusal(const Alert& upload) {
  // The service answered and refused the post: nothing was stored. What happened and what to do
  // in plain words; the plug-in's texts, with the service's status and reason, behind Details.
  const int status = lastPost_->refusalStatus;
  if (lastPost_->signInRefused) {
    sheet_->setHeading(gui::tr("Plinth no longer accepts your sign-in, so nothing was posted."),
                       gui::tr("Sign in again, then export again."));
  } else if (status == 401 || status == 403) {
    sheet_->setHeading(gui::tr("Plinth refused the post, so nothing was posted."),
                       gui::tr("Your account may not post to this blog. Sign in with one that "
                               "may, or choose another blog."));
  } else if (lastPost_->worthSendingLater) {
    sheet_->setHeading(gui::tr("Plinth could not take the post just now, so nothing was posted."),
                       gui::tr("Try again in a few minutes."));
  } else {
    sheet_->setHeading(gui::tr("Plinth refused the post, so nothing was posted."),
                       gui::tr("Trying again will not help. Details has the service's reason."));
  }
  QString details = QString::fromStdString(upload.messageText());
  if (!upload.informativeText().empty()) {
    details += "\n" + QString::fromStdString(upload.informativeText());
  }
  sheet_->setDetails(details);
}

QUrl ExportWindow::postAddress() const {
  if (!lastPost_) return {};
  const std::optional<std::string> address = host::postAddress(lastPost_->blog, lastPost_->postId);
  return address ? QUrl(QString::fromStdString(*address), QUrl::StrictMode) : QUrl();
}

void ExportWindow::showUploadProgress() {
  const auto upload = uploadSheet_.lock();
  if (!sheet_ || !upload || sheet_->alert() != upload) return;
  if (!upload_) {
    // Ended: the plug-in's words say how, unless the window says the failure in its own.
    const bool refused = lastPost_ && lastPost_->refusalStatus != 0;
    if (!uploadAlert_ && !refused) sheet_->setHeading({});
    sheet_->setDetail({});
    return;
  }
  const QString photos = photoCount(static_cast<int>(manager_.imageCount()));
  // One heading for the whole upload, so that a screen reader does not hear the sheet renamed;
  // the line under the bar counts the photos' megabytes as the window showed them.
  if (!offeredOn_ || offeredOn_ != sheet_) {
    // Cancel in the sheet itself, in place of the plug-in's "OK" that waits for the end.
    offeredOn_ = sheet_;
    sheet_->setActions({{gui::tr("Cancel"),
                         [this] {
                           if (uploading()) plugin_.cancelExport();
                         }}},
                       0, 0);
  }
  const QString total = byteSize(upload_->photoBytesTotal);
  // Nothing moved for a while: said in words, the count being the seconds since the last byte
  // went, with Cancel still offered.
  const qint64 stillFor = lastMoved_.isValid() ? lastMoved_.elapsed() / 1000 : 0;
  const bool stalled = stillFor >= kStalledAfterSeconds;
  sheet_->setHeading(
      gui::tr("Posting %1 to Plinth", {photos}),
      stalled ? gui::tr("No reply from Plinth for %1 s", {number(stillFor)}) : QString());
  switch (upload_->phase) {
    case pane::UploadProgress::Phase::kContacting:
      sheet_->setDetail(gui::tr("%1 · %2 · contacting Plinth…", {photos, total}));
      break;
    case pane::UploadProgress::Phase::kSending: {
      // The bar and the line count the same: the photos' bytes.
      if (upload_->photoBytesTotal > 0) {
        sheet_->setOwnProgress(static_cast<int>(upload_->photoBytesSent * SheetWidget::kBarSteps /
                                                upload_->photoBytesTotal));
      }
      // The time left is an estimate, not a counter: it changes at most once a second.
      if (!detailShown_.isValid() || detailShown_.elapsed() >= 1000) {
        detailShown_.start();
        shownTimeLeft_ = timeLeft();
      }
      const QString sent = byteSize(upload_->photoBytesSent);
      if (stalled) {
        sheet_->setDetail(gui::tr("%1 of %2 sent, stalled", {sent, total}));
        break;
      }
      sheet_->setDetail(shownTimeLeft_.isEmpty()
                            ? gui::tr("%1 of %2 sent", {sent, total})
                            : gui::tr("%1 of %2 sent, %3", {sent, total, shownTimeLeft_}));
      break;
    }
    case pane::UploadProgress::Phase::kWaitingForReply:
      sheet_->setDetail(gui::tr("%1 sent · waiting for Plinth's answer…", {total}));
      break;
  }
}

QString ExportWindow::timeLeft() const {
  // From the pace of the last two seconds, once the first second (the buffers' fill) is past it.
  if (!upload_ || !sending_.isValid() || sending_.elapsed() < kPaceWindowMs + 1000 ||
      pace_.size() < 2) {
    return {};
  }
  const auto& [from, sentThen] = pace_.front();
  const auto& [to, sentNow] = pace_.back();
  if (to - from < 1000 || sentNow <= sentThen) return {};
  const double perSecond =
      static_cast<double>(sentNow - sentThen) * 1000.0 / static_cast<double>(to - from);
  const double seconds =
      static_cast<double>(upload_->photoBytesTotal - upload_->photoBytesSent) / perSecond;
  if (seconds < 60)
    return gui::tr("about %1 s left", {number(std::max(1, static_cast<int>(seconds + 0.5)))});
  return gui::tr("about %1 min left", {number(static_cast<int>(seconds / 60.0 + 0.5))});
}

void ExportWindow::placeSheet() {
  if (!sheet_) return;
  sheet_->move((width() - sheet_->width()) / 2, 0);
}

void ExportWindow::updateButtons() {
  // The plug-in may enable its controls for files of an older selection: Post waits until it
  // reads the current one, every photo of it prepared.
  const bool prepared =
      preparationReady() && prepared_ && prepared_->result.leftOut().empty() && !selection_.empty();
  post_->setEnabled(manager_.controlsEnabled() && !sheet_ && prepared);
  cancel_->setEnabled(!sheet_ || uploading());
  remove_->setEnabled(!thumbnails_->selectedItems().isEmpty() && !sheet_);
  const int row = thumbnails_->currentItem() != nullptr && thumbnails_->currentItem()->isSelected()
                      ? thumbnails_->currentRow()
                      : -1;
  earlier_->setEnabled(!sheet_ && row > 0);
  later_->setEnabled(!sheet_ && row >= 0 && row + 1 < thumbnails_->count());
  showUploadProgress();
  offerOutcome();
  placeSheet();
}

bool ExportWindow::uploading() const { return upload_.has_value(); }

}  // namespace marigold::gui
