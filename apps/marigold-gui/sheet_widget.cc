#include "sheet_widget.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "image_pixmap.h"
#include "photo_view.h"
#include "platform/progress_indicator.h"

namespace marigold::gui {

SheetWidget::SheetWidget(std::shared_ptr<Alert> alert, QWidget* parent)
    : QFrame(parent), alert_(std::move(alert)) {
  setObjectName("sheet");
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setFixedWidth(460);
  auto* shadow = new QGraphicsDropShadowEffect(this);
  shadow->setBlurRadius(24);
  shadow->setOffset(0, 4);
  setGraphicsEffect(shadow);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(20, 16, 20, 16);
  message_ = new QLabel(this);
  message_->setObjectName("message");
  message_->setWordWrap(true);
  QFont bold = message_->font();
  bold.setBold(true);
  message_->setFont(bold);
  informative_ = new QLabel(this);
  informative_->setObjectName("informative");
  informative_->setWordWrap(true);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  image_ = new PhotoView("", this);
  image_->setFixedHeight(72);
  buttonRow_ = new QHBoxLayout;
  buttonRow_->addStretch(1);
  column->addWidget(message_);
  column->addWidget(informative_);
  column->addWidget(bar_);
  column->addWidget(image_);
  column->addLayout(buttonRow_);

  subscription_ = alert_->onChange([this] { render(); });
  render();
}

QPushButton* SheetWidget::button(std::size_t index) const {
  return index < buttons_.size() ? buttons_[index] : nullptr;
}

void SheetWidget::render() {
  message_->setText(QString::fromStdString(alert_->messageText()));
  informative_->setText(QString::fromStdString(alert_->informativeText()));
  informative_->setHidden(alert_->informativeText().empty());

  const auto accessory = alert_->accessoryView();
  const auto indicator = std::dynamic_pointer_cast<ProgressIndicator>(accessory);
  bar_->setHidden(!indicator || indicator->isHidden());
  if (indicator) {
    if (indicator->isIndeterminate()) {
      bar_->setRange(0, 0);  // busy: waiting with no measure of how long
    } else {
      bar_->setRange(0, kBarSteps);
      bar_->setValue(static_cast<int>(
          std::lround(indicator->doubleValue() * kBarSteps / ProgressIndicator::kMaxValue)));
    }
  }
  const auto picture = std::dynamic_pointer_cast<ImageView>(accessory);
  QPixmap pixmap =
      picture && picture->image() ? pixmapOf(*picture->image(), QSize(64, 64)) : QPixmap();
  image_->setHidden(pixmap.isNull());
  image_->setPixmap(std::move(pixmap));

  const auto& buttons = alert_->buttons();
  while (buttons_.size() < buttons.size()) {
    const std::size_t index = buttons_.size();
    auto* push = new QPushButton(this);
    push->setObjectName(QString("sheetButton%1").arg(index));
    push->setMinimumWidth(88);
    // The alert may end (and this widget go) inside pressButton; hold the alert, not `this`.
    connect(push, &QPushButton::clicked, this,
            [alert = alert_, index] { alert->pressButton(index); });
    buttonRow_->addWidget(push);
    buttons_.push_back(push);
  }
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setHidden(i >= buttons.size());
    if (i >= buttons.size()) continue;
    buttons_[i]->setText(QString::fromStdString(buttons[i]->title()));
    buttons_[i]->setEnabled(buttons[i]->isEnabled());
  }
  adjustSize();
}

}  // namespace marigold::gui
