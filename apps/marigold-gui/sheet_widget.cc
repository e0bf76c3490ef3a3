#include "sheet_widget.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "image_pixmap.h"
#include "photo_view.h"
#include "platform/progress_indicator.h"

namespace marigold::gui {
namespace {

QAccessibleInterface* sheetAccessible(const QString&, QObject* object) {
  if (auto* sheet = dynamic_cast<SheetWidget*>(object)) {
    return new QAccessibleWidget(sheet, QAccessible::AlertMessage);
  }
  return nullptr;
}

// The alert's own button that backs out: the only one, else one titled "Cancel", else the last.
std::size_t escapeButtonOf(const Alert& alert) {
  const auto& buttons = alert.buttons();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i]->title() == "Cancel") return i;
  }
  return buttons.empty() ? 0 : buttons.size() - 1;
}

}  // namespace

void SheetWidget::installAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&sheetAccessible);
    return true;
  }();
  (void)installed;
}

SheetWidget::SheetWidget(std::shared_ptr<Alert> alert, QWidget* parent)
    : QFrame(parent), alert_(std::move(alert)) {
  installAccessibility();
  setObjectName("sheet");
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setFocusPolicy(Qt::StrongFocus);
  setFixedWidth(460);
  auto* shadow = new QGraphicsDropShadowEffect(this);
  shadow->setBlurRadius(24);
  shadow->setOffset(0, 4);
  setGraphicsEffect(shadow);
  followsUpload_ = std::dynamic_pointer_cast<ProgressIndicator>(alert_->accessoryView()) != nullptr;

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(20, 16, 20, 16);
  message_ = new QLabel(this);
  message_->setObjectName("message");
  message_->setWordWrap(true);
  message_->setTextFormat(Qt::PlainText);
  QFont bold = message_->font();
  bold.setBold(true);
  message_->setFont(bold);
  informative_ = new QLabel(this);
  informative_->setObjectName("informative");
  informative_->setWordWrap(true);
  informative_->setTextFormat(Qt::PlainText);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setAccessibleName("Progress");
  detail_ = new QLabel(this);
  detail_->setObjectName("detail");
  detail_->setHidden(true);
  image_ = new PhotoView("", this);
  image_->setFixedHeight(72);
  image_->setAccessibleName("Posted");
  buttonRow_ = new QHBoxLayout;
  buttonRow_->addStretch(1);
  column->addWidget(message_);
  column->addWidget(informative_);
  column->addWidget(bar_);
  column->addWidget(detail_);
  column->addWidget(image_);
  column->addLayout(buttonRow_);

  subscription_ = alert_->onChange([this] { render(); });
  render();
}

QPushButton* SheetWidget::button(std::size_t index) const {
  const auto& shown = actions_.empty() ? buttons_ : actionButtons_;
  return index < shown.size() && !shown[index]->isHidden() ? shown[index] : nullptr;
}

void SheetWidget::setActions(std::vector<Action> actions, std::size_t defaultIndex,
                             std::size_t escapeIndex) {
  for (QPushButton* push : actionButtons_) push->deleteLater();
  actionButtons_.clear();
  actions_ = std::move(actions);
  defaultIndex_ = defaultIndex;
  escapeIndex_ = escapeIndex;
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    auto* push = new QPushButton(actions_[i].title, this);
    push->setObjectName(QString("sheetAction%1").arg(i));
    push->setMinimumWidth(88);
    push->setAutoDefault(false);
    // The action may end the sheet (and this widget) at once: hold a copy, not `this`.
    connect(push, &QPushButton::clicked, this, [run = actions_[i].run] { run(); });
    buttonRow_->addWidget(push);
    push->show();  // a widget added to a shown sheet stays hidden until shown
    actionButtons_.push_back(push);
  }
  render();
}

void SheetWidget::setDetail(const QString& text) {
  detail_->setText(text);
  detail_->setHidden(text.isEmpty());
}

void SheetWidget::render() {
  const QString message = QString::fromStdString(alert_->messageText());
  message_->setText(message);
  informative_->setText(QString::fromStdString(alert_->informativeText()));
  informative_->setHidden(alert_->informativeText().empty());
  setAccessibleName(message);
  setAccessibleDescription(informative_->text());

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
  if (bar_->isHidden()) detail_->setHidden(true);
  const auto picture = std::dynamic_pointer_cast<ImageView>(accessory);
  QPixmap pixmap = picture && picture->image()
                       ? pixmapOf(*picture->image(), QSize(64, 64), devicePixelRatioF())
                       : QPixmap();
  image_->setHidden(pixmap.isNull());
  image_->setPixmap(std::move(pixmap));

  const auto& buttons = alert_->buttons();
  while (buttons_.size() < buttons.size()) {
    const std::size_t index = buttons_.size();
    auto* push = new QPushButton(this);
    push->setObjectName(QString("sheetButton%1").arg(index));
    push->setMinimumWidth(88);
    push->setAutoDefault(false);  // Return goes to the sheet, which presses the default button
    // The alert may end (and this widget go) inside pressButton; hold the alert, not `this`.
    connect(push, &QPushButton::clicked, this,
            [alert = alert_, index] { alert->pressButton(index); });
    buttonRow_->insertWidget(buttonRow_->count() - static_cast<int>(actionButtons_.size()), push);
    buttons_.push_back(push);
  }
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setHidden(i >= buttons.size() || !actions_.empty());
    if (i >= buttons.size()) continue;
    buttons_[i]->setText(QString::fromStdString(buttons[i]->title()));
    buttons_[i]->setEnabled(buttons[i]->isEnabled());
  }
  if (actions_.empty()) {
    defaultIndex_ = 0;
    escapeIndex_ = escapeButtonOf(*alert_);
  }
  adjustSize();
  if (isVisible()) takeFocus();
}

QPushButton* SheetWidget::buttonAt(std::size_t index) const {
  QPushButton* push = button(index);
  return push != nullptr && push->isEnabled() ? push : nullptr;
}

void SheetWidget::takeFocus() {
  QWidget* focused = QApplication::focusWidget();
  const bool inside = focused != nullptr && (focused == this || isAncestorOf(focused));
  QPushButton* preferred = buttonAt(defaultIndex_);
  if (preferred != nullptr && (!inside || focused == this)) {
    preferred->setFocus(Qt::OtherFocusReason);
  } else if (!inside) {
    setFocus(Qt::OtherFocusReason);
  }
}

void SheetWidget::showEvent(QShowEvent* event) {
  QFrame::showEvent(event);
  takeFocus();
  QAccessibleEvent announce(this, QAccessible::Alert);
  QAccessible::updateAccessibility(&announce);
}

void SheetWidget::keyPressEvent(QKeyEvent* event) {
  const bool confirm = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool backOut = event->key() == Qt::Key_Escape;
  QPushButton* target = confirm   ? buttonAt(defaultIndex_)
                        : backOut ? buttonAt(escapeIndex_)
                                  : nullptr;
  if (target == nullptr) {
    // Escape during an upload goes on to the window, whose Cancel stops it.
    if (confirm)
      event->accept();
    else
      QFrame::keyPressEvent(event);
    return;
  }
  event->accept();
  target->click();
}

}  // namespace marigold::gui
