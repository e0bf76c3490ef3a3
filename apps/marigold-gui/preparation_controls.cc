#include "preparation_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "ui_text.h"

namespace marigold::gui {
namespace {

// Where the size is kept, by its name ("fit", "1280").
constexpr const char* kSizeKey = "ExportPhotoSize";

// The size as the menu lists it: "Fit", "Original", "2048 px".
QString sizeLabel(imaging::PhotoSize size) {
  if (const auto edge = imaging::longEdgeOf(size)) return gui::tr("%1 px", {number(*edge)});
  return size == imaging::PhotoSize::kFit ? gui::tr("Fit") : gui::tr("Original");
}

}  // namespace

PreparationControls::PreparationControls(std::shared_ptr<UserDefaults> preferences, QWidget* parent)
    : QWidget(parent), preferences_(std::move(preferences)) {
  auto* sizeTitle = new QLabel(gui::tr("Photo si&ze:"), this);
  size_ = new QComboBox(this);
  size_->setObjectName("photoSize");
  size_->setAccessibleName(gui::tr("Photo size"));
  for (imaging::PhotoSize size : imaging::kPhotoSizes) {
    size_->addItem(sizeLabel(size), static_cast<int>(size));
  }
  size_->setItemData(0, gui::tr("As large as the whole post fits Plinth's limit"), Qt::ToolTipRole);
  size_->setItemData(1, gui::tr("The photos at their own size"), Qt::ToolTipRole);
  sizeTitle->setBuddy(size_);
  location_ = new QCheckBox(gui::tr("Remove location and camera &details"), this);
  location_->setObjectName("removeDetails");
  location_->setAccessibleName(gui::tr("Remove location and camera details"));
  location_->setToolTip(
      gui::tr("The GPS position and the camera's serial number and owner are left out; the "
              "date, exposure and copyright stay. Unchecked, the photos keep all their details."));
  location_->setChecked(true);
  if (const auto kept = preferences_->objectForKey(kSizeKey)) {
    const std::string* name = kept->get<std::string>();
    if (const auto size = name ? imaging::photoSizeFromName(*name) : std::nullopt) {
      size_->setCurrentIndex(size_->findData(static_cast<int>(*size)));
    }
  }

  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(sizeTitle);
  sizeRow->addWidget(size_);
  sizeRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(sizeRow);
  layout->addWidget(location_);

  connect(size_, &QComboBox::currentIndexChanged, this, [this] {
    preferences_->setObject(std::string(imaging::photoSizeName(options().size)), kSizeKey);
    // A store that cannot be written has logged why; the choice still holds for this window.
    [[maybe_unused]] const bool kept = preferences_->synchronize();
    if (changed_) changed_();
  });
  connect(location_, &QCheckBox::toggled, this, [this] {
    if (changed_) changed_();
  });
}

imaging::PreparationOptions PreparationControls::options() const {
  imaging::PreparationOptions options;
  options.size = static_cast<imaging::PhotoSize>(size_->currentData().toInt());
  options.metadata = location_->isChecked() ? imaging::MetadataChoice::kRemoveLocation
                                            : imaging::MetadataChoice::kKeepAll;
  return options;
}

}  // namespace marigold::gui
