#include "export_window.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <optional>

#include "host/photo_file.h"
#include "image_pixmap.h"
#include "pane_widget.h"
#include "platform/alert.h"
#include "platform/window.h"
#include "sheet_widget.h"

namespace marigold::gui {
namespace {

constexpr int kThumbnailSide = 96;

// The texts a user types for the post; they survive the pane being shown again.
constexpr const char* kTypedFields[] = {"plinthCaptions", "plinthTags", "plinthClickthrough"};

QStringList localImageFiles(const QMimeData& data) {
  QStringList files;
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    const QString file = QFileInfo(url.toLocalFile()).absoluteFilePath();
    if (!host::photoFileProblem(file.toStdString())) files << file;
  }
  return files;
}

}  // namespace

const QStringList& ExportWindow::imageSuffixes() {
  static const QStringList suffixes = {"jpg", "jpeg", "png", "gif", "tif", "tiff", "heic"};
  return suffixes;
}

ExportWindow::ExportWindow(host::ExportManager& manager, ExportPluginProtocol& plugin)
    : manager_(manager), plugin_(plugin) {
  setWindowTitle("Export - " + QString::fromStdString(plugin_.name()));
  setAcceptDrops(true);

  content_ = new QWidget(this);
  auto* photosColumn = new QVBoxLayout;
  auto* photosTitle = new QLabel("Photos to post (drop image files here)", content_);
  thumbnails_ = new QListWidget(content_);
  thumbnails_->setObjectName("thumbnails");
  thumbnails_->setViewMode(QListView::IconMode);
  thumbnails_->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
  thumbnails_->setGridSize(QSize(kThumbnailSide + 24, kThumbnailSide + 36));
  thumbnails_->setResizeMode(QListView::Adjust);
  thumbnails_->setMovement(QListView::Static);
  thumbnails_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  thumbnails_->setMinimumWidth(2 * (kThumbnailSide + 24) + 24);
  auto* add = new QPushButton("Add Photos...", content_);
  add->setAutoDefault(false);
  remove_ = new QPushButton("Remove", content_);
  remove_->setObjectName("remove");
  remove_->setAutoDefault(false);
  auto* photoButtons = new QHBoxLayout;
  photoButtons->addWidget(add);
  photoButtons->addWidget(remove_);
  photoButtons->addStretch(1);
  photosColumn->addWidget(photosTitle);
  photosColumn->addWidget(thumbnails_, 1);
  photosColumn->addLayout(photoButtons);

  hint_ = new QLabel(content_);
  hint_->setObjectName("hint");
  hint_->setWordWrap(true);
  hint_->setHidden(true);
  pane_ = new PaneWidget(plugin_.settingsView(), content_);
  auto* paneColumn = new QVBoxLayout;
  paneColumn->addWidget(hint_);
  paneColumn->addWidget(pane_, 1);

  auto* columns = new QHBoxLayout(content_);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->addLayout(photosColumn, 0);
  columns->addLayout(paneColumn, 1);

  auto* buttons = new QDialogButtonBox(this);
  cancel_ = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  post_ = buttons->addButton("Post", QDialogButtonBox::AcceptRole);
  post_->setObjectName("post");
  cancel_->setObjectName("cancel");
  post_->setAutoDefault(false);
  cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(content_, 1);
  layout->addWidget(buttons);

  connect(add, &QPushButton::clicked, this, [this] { choosePhotos(); });
  connect(remove_, &QPushButton::clicked, this, [this] {
    QList<int> rows;
    for (const QListWidgetItem* item : thumbnails_->selectedItems()) rows << thumbnails_->row(item);
    removePhotos(rows);
  });
  connect(thumbnails_, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
  connect(post_, &QPushButton::clicked, this, [this] { plugin_.startExport(""); });
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (uploading()) {
      plugin_.cancelExport();
    } else {
      close();
    }
  });
  manager_.setControlsHandler([this](bool) { updateButtons(); });
  windowSubscription_ = manager_.window()->onChange([this] { windowChanged(); });

  refreshThumbnails();
  windowChanged();
  resize(900, 470);
}

ExportWindow::~ExportWindow() {
  manager_.setControlsHandler(nullptr);
  windowSubscription_.cancel();
  sheetSubscription_.cancel();
}

void ExportWindow::addPhotos(const QStringList& paths) {
  std::vector<std::string> selection = manager_.photoPaths();
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
  const auto& current = manager_.photoPaths();
  for (int i = 0; i < static_cast<int>(current.size()); ++i) {
    if (!rows.contains(i)) selection.push_back(current[i]);
  }
  setSelection(std::move(selection));
}

void ExportWindow::setHint(const QString& text) {
  hint_->setText(text);
  hint_->setHidden(text.isEmpty());
}

void ExportWindow::setSelection(std::vector<std::string> paths) {
  auto settings = plugin_.settingsView();
  std::map<std::string, std::string> typed;
  for (const char* identifier : kTypedFields) {
    if (auto field = std::dynamic_pointer_cast<TextField>(settings->viewWithIdentifier(identifier));
        field && field->isEnabled()) {
      typed[identifier] = field->stringValue();
    }
  }
  manager_.setPhotoPaths(std::move(paths));
  plugin_.viewWillBeActivated();
  for (const auto& [identifier, text] : typed) {
    auto field = std::dynamic_pointer_cast<TextField>(settings->viewWithIdentifier(identifier));
    if (field && field->isEnabled()) field->setStringValue(text);
  }
  refreshThumbnails();
}

void ExportWindow::refreshThumbnails() {
  thumbnails_->clear();
  const QSize box(kThumbnailSide, kThumbnailSide);
  for (const std::string& path : manager_.photoPaths()) {
    const QString file = QString::fromStdString(path);
    QPixmap pixmap = pixmapOfFile(file, box);
    auto* item = new QListWidgetItem(QFileInfo(file).fileName(), thumbnails_);
    item->setToolTip(file);
    if (pixmap.isNull()) {
      item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
      item->setToolTip(file + "\nThis file cannot be shown as an image.");
    } else {
      // The same colours while a sheet disables the window, rather than Qt's greyed copy.
      QIcon icon(pixmap);
      icon.addPixmap(pixmap, QIcon::Disabled);
      item->setIcon(icon);
    }
  }
  updateButtons();
}

void ExportWindow::choosePhotos() {
  QString filter = "Images (";
  for (const QString& suffix : imageSuffixes()) filter += "*." + suffix + " ";
  filter = filter.trimmed() + ")";
  const QStringList files = QFileDialog::getOpenFileNames(this, "Add Photos", QString(), filter);
  if (!files.isEmpty()) addPhotos(files);
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
  if (uploading()) plugin_.cancelExport();  // nothing goes on being sent behind a closed window
  event->accept();
}

void ExportWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeSheet();
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
    if (sheet_) {
      sheet_->show();
      sheet_->raise();
    }
    placeSheet();
  }
  content_->setEnabled(!sheet_);
  updateButtons();
  if (window.isClosed()) close();
}

void ExportWindow::placeSheet() {
  if (!sheet_) return;
  sheet_->adjustSize();
  sheet_->move((width() - sheet_->width()) / 2, 0);
}

void ExportWindow::updateButtons() {
  post_->setEnabled(manager_.controlsEnabled() && !sheet_);
  cancel_->setEnabled(!sheet_ || uploading());
  remove_->setEnabled(!thumbnails_->selectedItems().isEmpty());
}

bool ExportWindow::uploading() const {
  if (!sheet_) return false;
  const auto& buttons = sheet_->alert()->buttons();
  return sheet_->progressBar()->isVisibleTo(sheet_) && !buttons.empty() &&
         !buttons.front()->isEnabled();
}

}  // namespace marigold::gui
