#include "sheet_widget.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionProgressBar>
#include <QStylePainter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "accessible_roles.h"
#include "image_pixmap.h"
#include "photo_view.h"
#include "platform/progress_indicator.h"
#include "ui_text.h"

namespace marigold::gui {
// What assistive technology hears of a sheet's changing words (its name, its description, the
// line under the bar): the newest words at most once every two seconds, never the same words
// twice in a row. A change within the two seconds waits for their end, and only the newest is
// said then.
class SheetWidget::Announcer {
 public:
  explicit Announcer(SheetWidget& sheet) : sheet_(sheet) {
    later_.setSingleShot(true);
    QObject::connect(&later_, &QTimer::timeout, [this] { sayNow(); });
  }

  void want(const QString& name, const QString& description, const QString& line) {
    wanted_ = {name, description, line};
    if (wanted_ == said_) {
      later_.stop();
      return;
    }
    // Before the sheet shows nobody hears its words: they are set at once, and counted from the
    // first that come while it is shown.
    const qint64 since = clock_.isValid() ? clock_.elapsed() : kEveryMs;
    if (since >= kEveryMs) {
      sayNow();
    } else if (!later_.isActive()) {
      later_.start(static_cast<int>(kEveryMs - since));
    }
  }

 private:
  struct Words {
    QString name;
    QString description;
    QString line;
    bool valid = true;
    bool operator==(const Words&) const = default;
  };
  static constexpr qint64 kEveryMs = 2000;

  void sayNow() {
    if (wanted_ == said_) return;
    if (sheet_.accessibleName() != wanted_.name) sheet_.setAccessibleName(wanted_.name);
    if (sheet_.accessibleDescription() != wanted_.description) {
      sheet_.setAccessibleDescription(wanted_.description);
    }
    if (sheet_.detail_->accessibleName() != wanted_.line) {
      // Never empty: a label without a name of its own would announce each new text.
      sheet_.detail_->setAccessibleName(wanted_.line.isEmpty() ? QStringLiteral(" ")
                                                               : wanted_.line);
    }
    said_ = wanted_;
    if (sheet_.isVisible()) clock_.start();
  }

  SheetWidget& sheet_;
  Words wanted_;
  Words said_{{}, {}, {}, false};
  QElapsedTimer clock_;
  QTimer later_;
};

SheetWidget::~SheetWidget() = default;

// A progress bar that paints every step it is given but tells assistive technology its value
// (QProgressBar::setValue) only every few seconds and at its ends: a screen reader hears how an
// upload goes without an announcement per network write.
class UploadBar : public QProgressBar {
 public:
  using QProgressBar::QProgressBar;

  void advance(int value) {
    if (value == painted_) return;
    painted_ = value;
    update();
    if (!announced_.isValid() || announced_.elapsed() >= kAnnounceEveryMs || value <= minimum() ||
        value >= maximum()) {
      setValue(value);
      announced_.start();
    }
  }
  void busy() {
    painted_ = -1;
    announced_.invalidate();
    setRange(0, 0);
  }
  int painted() const { return painted_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    if (maximum() > minimum()) option.progress = std::clamp(painted_, minimum(), maximum());
    painter.drawControl(QStyle::CE_ProgressBar, option);
  }

 private:
  static constexpr qint64 kAnnounceEveryMs = 2000;
  int painted_ = -1;
  QElapsedTimer announced_;
};

namespace {

// The alert's own button that backs out: the one whose key equivalent is Escape, else the last
// (the only one of an alert that just informs).
std::size_t escapeButtonOf(const Alert& alert) {
  const auto& buttons = alert.buttons();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i]->keyEquivalent() == kEscapeKeyEquivalent) return i;
  }
  return buttons.empty() ? 0 : buttons.size() - 1;
}

}  // namespace

SheetWidget::SheetWidget(std::shared_ptr<Alert> alert, QWidget* parent)
    : QFrame(parent), alert_(std::move(alert)) {
  installAccessibleRoles();
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
  bar_ = new UploadBar(this);
  bar_->setTextVisible(false);
  bar_->setAccessibleName(gui::tr("Progress"));
  detail_ = new QLabel(this);
  detail_->setObjectName("detail");
  detail_->setTextFormat(Qt::PlainText);
  detail_->setAccessibleName(QStringLiteral(" "));  // its words are said by the announcer
  detail_->setHidden(true);
  announcer_ = std::make_unique<Announcer>(*this);
  image_ = new PhotoView("", this);
  image_->setFixedHeight(72);
  image_->setAccessibleName(gui::tr("Posted"));
  details_ = new QPlainTextEdit(this);
  details_->setObjectName("details");
  details_->setReadOnly(true);
  details_->setTabChangesFocus(true);
  details_->setAccessibleName(gui::tr("Details"));
  // An address has no spaces to break at: the detail wraps anywhere rather than run off the side.
  details_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  details_->setHidden(true);
  detailsButton_ = new QPushButton(gui::tr("&Details"), this);
  detailsButton_->setObjectName("detailsButton");
  detailsButton_->setCheckable(true);
  detailsButton_->setAutoDefault(false);
  detailsButton_->setHidden(true);
  connect(detailsButton_, &QPushButton::toggled, this, [this](bool shown) {
    details_->setVisible(shown);
    fitHeight();
  });
  buttonRow_ = new QHBoxLayout;
  buttonRow_->addWidget(detailsButton_);
  buttonRow_->addStretch(1);
  column->addWidget(message_);
  column->addWidget(informative_);
  column->addWidget(details_);
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
  // The alert's own buttons go rather than hide: no second "OK" left for assistive technology.
  for (QPushButton* push : buttons_) {
    push->hide();
    push->deleteLater();
  }
  buttons_.clear();
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
  // The buttons that had the focus are hidden now: the focus goes to the safe choice, not to
  // whichever button Qt would move it to.
  if (isVisible()) {
    if (QPushButton* preferred = buttonAt(defaultIndex_)) preferred->setFocus(Qt::OtherFocusReason);
  }
}

void SheetWidget::setDetail(const QString& text) {
  const bool shownBefore = !detail_->isHidden();
  if (detail_->text() != text) detail_->setText(text);
  detail_->setHidden(text.isEmpty());
  announce();
  if (shownBefore != !detail_->isHidden()) fitHeight();
}

void SheetWidget::announce() {
  announcer_->want(message_->text(), informative_->text(),
                   detail_->isHidden() ? QString() : detail_->text());
}

void SheetWidget::setHeading(const QString& heading, const QString& informative) {
  if (heading == heading_ && informative == ownInformative_) return;
  heading_ = heading;
  ownInformative_ = informative;
  render();
}

void SheetWidget::setDetails(const QString& text) {
  ownDetails_ = true;
  showDetails(text);
}

void SheetWidget::showDetails(const QString& text) {
  if (text == details_->toPlainText() && detailsButton_->isHidden() != text.isEmpty()) return;
  details_->setPlainText(text);
  detailsButton_->setHidden(text.isEmpty());
  if (text.isEmpty()) detailsButton_->setChecked(false);
  details_->setHidden(!detailsButton_->isChecked());
  fitHeight();
}

void SheetWidget::fitHeight() {
  layout()->activate();
  if (details_->isVisibleTo(this)) {
    // Every line of the detail at its width (wrapped anywhere, with a line to spare), up to a
    // dozen; past that it scrolls.
    const QMargins margins = layout()->contentsMargins();
    const int documentMargin = static_cast<int>(details_->document()->documentMargin());
    const int room = width() - margins.left() - margins.right() - 2 * details_->frameWidth() -
                     2 * documentMargin - 4;
    const QFontMetrics metrics = details_->fontMetrics();
    const int text = metrics
                         .boundingRect(QRect(0, 0, std::max(room, 40), 100000),
                                       Qt::TextWrapAnywhere, details_->toPlainText())
                         .height() +
                     metrics.lineSpacing();
    details_->setFixedHeight(std::min(text, 12 * metrics.lineSpacing()) +
                             2 * details_->frameWidth() + 2 * documentMargin);
    layout()->activate();
  }
  resize(width(), std::max(heightForWidth(width()), minimumSizeHint().height()));
}

void SheetWidget::setOwnProgress(int steps) {
  if (steps == ownProgress_) return;
  ownProgress_ = steps;
  render();
}

int SheetWidget::paintedValue() const { return bar_->painted(); }

QProgressBar* SheetWidget::progressBar() const { return bar_; }

void SheetWidget::render() {
  const QString message =
      heading_.isEmpty() ? QString::fromStdString(alert_->messageText()) : heading_;
  message_->setText(message);
  informative_->setText(heading_.isEmpty() ? QString::fromStdString(alert_->informativeText())
                                           : ownInformative_);
  informative_->setHidden(informative_->text().isEmpty());
  // The service's codes behind the plain words, unless the host put its own there.
  if (!ownDetails_) showDetails(QString::fromStdString(alert_->details()));
  announce();

  const auto accessory = alert_->accessoryView();
  const auto indicator = std::dynamic_pointer_cast<ProgressIndicator>(accessory);
  bar_->setHidden(!indicator || indicator->isHidden());
  if (indicator) {
    if (indicator->isIndeterminate()) {
      bar_->busy();  // waiting with no measure of how long
    } else {
      bar_->setRange(0, kBarSteps);
      bar_->advance(ownProgress_ >= 0
                        ? ownProgress_
                        : static_cast<int>(std::lround(indicator->doubleValue() * kBarSteps /
                                                       ProgressIndicator::kMaxValue)));
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
  while (actions_.empty() && buttons_.size() < buttons.size()) {
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
  fitHeight();
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
  // Return presses the button that has the focus, as the focus ring shows; the default only when
  // no button of the sheet has it.
  auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
  const bool ownButton = focused != nullptr && isAncestorOf(focused) && focused->isEnabled() &&
                         focused->isVisibleTo(this);
  QPushButton* target = confirm && ownButton ? focused
                        : confirm            ? buttonAt(defaultIndex_)
                        : backOut            ? buttonAt(escapeIndex_)
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
