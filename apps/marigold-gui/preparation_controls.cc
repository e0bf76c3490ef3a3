#include "preparation_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace marigold::gui {

PreparationControls::PreparationControls(QWidget* parent) : QWidget(parent) {
  auto* sizeLabel = new QLabel("Photo si&ze:", this);
  size_ = new QComboBox(this);
  size_->setObjectName("photoSize");
  size_->setAccessibleName("Photo size");
  for (imaging::PhotoSize size : imaging::kPhotoSizes) {
    size_->addItem(QString::fromStdString(imaging::photoSizeLabel(size)), static_cast<int>(size));
  }
  size_->setItemData(0, "As large as the whole post fits Plinth's limit", Qt::ToolTipRole);
  size_->setItemData(1, "The photos at their own size", Qt::ToolTipRole);
  sizeLabel->setBuddy(size_);
  location_ = new QCheckBox("Remove location and camera &details", this);
  location_->setObjectName("removeDetails");
  location_->setAccessibleName("Remove location and camera details");
  location_->setToolTip(
      "The GPS position and the camera's serial number and owner are left out; the date, "
      "exposure and copyright stay. Unchecked, the photos keep all their details.");
  location_->setChecked(true);

  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(sizeLabel);
  sizeRow->addWidget(size_);
  sizeRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(sizeRow);
  layout->addWidget(location_);

  connect(size_, &QComboBox::currentIndexChanged, this, [this] {
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
