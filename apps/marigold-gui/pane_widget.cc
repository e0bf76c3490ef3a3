#include "pane_widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <functional>
#include <map>
#include <optional>

#include "base/translation.h"
#include "image_pixmap.h"
#include "internal_error.h"
#include "photo_view.h"
#include "platform/key_event.h"
#include "plugin/pane_contract.h"
#include "ui_text.h"

namespace marigold::gui {
namespace {

// Where the pane's known controls go: a labelled row of the form (controls that share a row sit
// side by side), with a hint for empty fields. The label's "&" marks its mnemonic; `titles` are
// the plug-in's titles of a button or check box (which carry none) as this window shows them, with
// the mnemonic each language's translator chose, unique in the window. Views the table does not
// name get a row of their own after these, labelled with their identifier.
struct Slot {
  const char* identifier;
  int row;
  const char* label;
  const char* placeholder;
  std::array<const char*, 2> titles;
};
constexpr Slot kSlots[] = {
    {pane::kUserName, 0, translatable("&User name:"), "you@example.com", {}},
    {pane::kPassword, 1, translatable("Pass&word:"), "", {}},
    {pane::kRememberMe, 2, "", "", {translatable("Remember &me")}},
    {pane::kLoginButton, 2, "", "", {translatable("&Log In"), translatable("&Log Out")}},
    {pane::kBrowserLoginButton, 2, "", "", {translatable("Sign &in with browser")}},
    {pane::kBlogMenu, 3, translatable("&Blog:"), "", {}},
    {pane::kStateMenu, 4, translatable("S&tate:"), "", {}},
    {pane::kCaption,
     5,
     translatable("&Caption:"),
     translatable("Say something about the photos"),
     {}},
    {pane::kTags, 6, translatable("Ta&gs:"), translatable("comma, separated, tags"), {}},
    {pane::kClickThrough,
     7,
     translatable("Lin&k:"),
     translatable("https://... (one photo only)"),
     {}},
    {pane::kNotice, 8, "", "", {}},
};
constexpr int kPreviewSide = 160;
constexpr double kReadableContrast = 4.5;

const Slot* slotFor(const std::string& identifier) {
  const auto* found = std::find_if(std::begin(kSlots), std::end(kSlots),
                                   [&](const Slot& slot) { return identifier == slot.identifier; });
  return found == std::end(kSlots) ? nullptr : found;
}

QString qText(const std::string& text) { return QString::fromStdString(text); }

// A title as it reads without its mnemonic: "Sign &In" and Japanese "サインイン(&S)" read
// "Sign In" and "サインイン".
QString withoutMnemonic(QString marked) {
  marked.remove(QRegularExpression("\\(&[^&]\\)"));
  return marked.replace(QRegularExpression("&(.)"), "\\1");
}

// The plug-in's title shown with the underlined letter of its translation in `titles`; a title
// none of them reads keeps none, and an "&" in it stays a plain "&".
QString withMnemonic(const std::string& title, const Slot* slot) {
  const QString text = qText(title);
  if (slot != nullptr) {
    for (const char* marked : slot->titles) {
      if (marked == nullptr) continue;
      const QString shown = gui::tr(marked);
      if (withoutMnemonic(shown) == text) return shown;
    }
  }
  return QString(text).replace("&", "&&");
}

// What a screen reader says for a label: its text without the mnemonic marker and the colon.
QString spokenName(QString label) {
  label.remove(QRegularExpression("&(?!&)"));
  if (label.endsWith(':')) label.chop(1);
  return label;
}

double luminance(const QColor& colour) {
  auto channel = [](double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
         0.0722 * channel(colour.blueF());
}

QColor mix(const QColor& a, const QColor& b, double t) {
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

}  // namespace

double PaneWidget::contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

PaneWidget::PaneWidget(ExportPluginProtocol& plugin, QWidget* parent)
    : QGroupBox(parent), plugin_(plugin), settingsView_(plugin.settingsView()) {
  if (auto box = std::dynamic_pointer_cast<Box>(settingsView_)) setTitle(qText(box->title()));
  previewDecoder_.setMaxThreadCount(1);
  auto* grid = new QGridLayout(this);
  grid->setColumnStretch(1, 1);
  std::map<int, QHBoxLayout*>& rows = rows_;
  int nextRow = static_cast<int>(std::size(kSlots));
  for (const auto& view : settingsView_->subviews()) {
    QWidget* widget = bind(view);
    if (widget == nullptr) continue;
    if (view->identifier() == pane::kPreview) {
      grid->addWidget(widget, 0, 2, 5, 1, Qt::AlignTop | Qt::AlignRight);
      continue;
    }
    const Slot* slot = slotFor(view->identifier());
    const int row = slot ? slot->row : nextRow++;
    auto [entry, added] = rows.try_emplace(row, nullptr);
    if (added) {
      const QString label = slot ? gui::tr(slot->label) : qText(view->identifier()) + ":";
      if (!label.isEmpty()) {
        auto* text = new QLabel(label, this);
        text->setBuddy(widget);
        grid->addWidget(text, row, 0, Qt::AlignRight);
        widget->setAccessibleName(spokenName(label));
      }
      entry->second = new QHBoxLayout;
      grid->addLayout(entry->second, row, 1);
    }
    entry->second->addWidget(widget, widget->inherits("QLineEdit") || widget->inherits("QLabel"));
  }
  grid->setRowStretch(nextRow, 1);
  colourNotice();
}

QWidget* PaneWidget::widgetFor(const std::string& identifier) const {
  for (const auto& bound : widgets_) {
    if (bound.identifier == identifier) return bound.widget;
  }
  return nullptr;
}

std::vector<QWidget*> PaneWidget::inScreenOrder() const {
  std::vector<QWidget*> order;
  for (const auto& [row, line] : rows_) {
    for (int i = 0; i < line->count(); ++i) {
      if (QWidget* widget = line->itemAt(i)->widget()) order.push_back(widget);
    }
  }
  return order;
}

bool PaneWidget::focusFirstEmptyField() {
  for (const Slot& slot : kSlots) {
    auto* edit = qobject_cast<QLineEdit*>(widgetFor(slot.identifier));
    if (edit != nullptr && edit->isEnabled() && edit->isVisibleTo(this) && edit->text().isEmpty()) {
      edit->setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  return false;
}

bool PaneWidget::focusPassword() {
  auto* edit = qobject_cast<QLineEdit*>(widgetFor(pane::kPassword));
  if (edit == nullptr || !edit->isEnabled() || !edit->isVisibleTo(this)) return false;
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  return true;
}

void PaneWidget::act(const std::function<void()>& action) {
  const QPointer<QWidget> focused = window()->focusWidget();
  // The plug-in's sign-in waits for the service; the host keeps the window live meanwhile.
  QApplication::setOverrideCursor(Qt::BusyCursor);
  // The plug-in's handlers run inside Qt's slot: an exception ends here, in a message box.
  std::exception_ptr failure;
  try {
    action();
  } catch (...) {
    failure = std::current_exception();
  }
  QApplication::restoreOverrideCursor();
  if (failure) {
    showInternalError(this, failure);
    return;
  }
  // A sign-in disables the field that had the focus: go on where the user types next.
  if (focused == nullptr || !focused->isEnabled()) focusFirstEmptyField();
}

QWidget* PaneWidget::bind(const std::shared_ptr<View>& view) {
  QWidget* widget = nullptr;
  std::function<void()> render;
  const Slot* slot = slotFor(view->identifier());
  if (view->identifier() == pane::kNotice) {
    auto field = std::dynamic_pointer_cast<TextField>(view);
    if (!field) return nullptr;
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);  // the plug-in's words may quote the service's
    label->setWordWrap(true);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    render = [label, field] {
      label->setText(qText(field->stringValue()));
      label->setAccessibleName(label->text());
    };
    widget = label;
  } else if (auto field = std::dynamic_pointer_cast<TextField>(view)) {
    auto* edit = new QLineEdit(this);
    if (field->isSecure()) edit->setEchoMode(QLineEdit::Password);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this,
            [this, field, identifier = view->identifier()](const QString& text) {
              typedByUser_[identifier] = text.toStdString();
              guardedSlot(this, [&] {
                field->setStringValue(text.toStdString());
                if (editHandler_) editHandler_(identifier, field->stringValue());
              });
            });
    const QString placeholder = slot && *slot->placeholder ? gui::tr(slot->placeholder) : QString();
    render = [this, edit, field, placeholder, identifier = view->identifier()] {
      // A text the plug-in puts into a field it disables (the link's "not available" notice) is
      // a notice, not the field's content: shown and read as the field's placeholder and
      // description, so that a screen reader does not take it for a link.
      const std::string& value = field->stringValue();
      const auto typed = typedByUser_.find(identifier);
      const bool notice = identifier == pane::kClickThrough && !field->isEnabled() &&
                          !value.empty() && (typed == typedByUser_.end() || typed->second != value);
      const QString shown = notice ? QString() : qText(value);
      edit->setPlaceholderText(notice ? qText(value) : placeholder);
      edit->setAccessibleDescription(notice ? qText(value) : QString());
      if (edit->text() != shown) {
        edit->setText(shown);
        edit->setCursorPosition(0);  // a text the plug-in put there reads from its start
      }
    };
    widget = edit;
  } else if (auto check = std::dynamic_pointer_cast<CheckBox>(view)) {
    auto* box = new QCheckBox(this);
    connect(box, &QCheckBox::clicked, this,
            [this, check] { act([check] { check->performClick(); }); });
    render = [box, check, slot] {
      box->setText(withMnemonic(check->title(), slot));
      box->setChecked(check->state() == ControlState::kOn);
    };
    widget = box;
  } else if (auto button = std::dynamic_pointer_cast<Button>(view)) {
    auto* push = new QPushButton(this);
    push->setAutoDefault(false);
    connect(push, &QPushButton::clicked, this,
            [this, button] { act([button] { button->performClick(); }); });
    render = [push, button, slot] { push->setText(withMnemonic(button->title(), slot)); };
    widget = push;
  } else if (auto menu = std::dynamic_pointer_cast<PopUpButton>(view)) {
    auto* combo = new QComboBox(this);
    combo->setMinimumContentsLength(16);
    connect(
        combo, &QComboBox::activated, this,
        [this, menu, identifier = view->identifier()](int index) {
          guardedSlot(this, [&] {
            menu->selectItemAtIndex(index < 0 ? std::nullopt : std::optional<std::size_t>(index));
          });
          if (choiceHandler_ && menu->titleOfSelectedItem()) {
            choiceHandler_(identifier, *menu->titleOfSelectedItem());
          }
        });
    render = [combo, menu] {
      QStringList titles;
      for (const auto& title : menu->itemTitles()) titles << qText(title);
      QStringList shown;
      for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
      if (shown != titles) {
        combo->clear();
        combo->addItems(titles);
      }
      const auto selected = menu->indexOfSelectedItem();
      combo->setCurrentIndex(selected ? static_cast<int>(*selected) : -1);
    };
    widget = combo;
  } else if (auto image = std::dynamic_pointer_cast<ImageView>(view)) {
    auto* photo = new PhotoView(gui::tr("No preview"), this);
    photo->setFixedSize(kPreviewSide, kPreviewSide);
    photo->setFrameShape(QFrame::StyledPanel);
    photo->setAccessibleName(gui::tr("Preview of the first photo"));
    render = [this, photo, image] {
      // Decoded on a worker: a large photo's preview never holds the window up. Only the newest
      // picture is shown.
      const int ticket = ++previewTicket_;
      const std::optional<Image> shown = image->image();
      if (!shown) {
        photo->setPixmap(QPixmap());
        return;
      }
      ++previewsDecoding_;
      const QSize box = photo->contentsRect().size();
      const qreal ratio = photo->devicePixelRatioF();
      previewDecoder_.start([this, photo, ticket, shown, box, ratio] {
        QImage decoded = imageOf(*shown, box, ratio);
        QMetaObject::invokeMethod(
            this,
            [this, photo, ticket, decoded] {
              --previewsDecoding_;
              if (ticket == previewTicket_) photo->setPixmap(QPixmap::fromImage(decoded));
            },
            Qt::QueuedConnection);
      });
    };
    widget = photo;
  } else {
    return nullptr;  // containers and views without a control of their own
  }
  widget->setObjectName(qText(view->identifier()));
  std::weak_ptr<View> weak = view;
  auto update = [this, widget, weak, render] {
    auto shown = weak.lock();
    if (!shown) return;
    render();
    widget->setEnabled(shown->isEnabled() && usable(*shown));
    widget->setHidden(shown->isHidden());
    const bool credential =
        shown->identifier() == pane::kUserName || shown->identifier() == pane::kPassword;
    if (credential && loginUpdate_) loginUpdate_();
  };
  update();
  subscriptions_.push_back(view->onChange(update));
  if (view->identifier() == pane::kLoginButton) loginUpdate_ = update;
  widgets_.push_back({view->identifier(), widget, view});
  return widget;
}

bool PaneWidget::usable(const View& view) const {
  // Signing in asks for a user name and a password: without both there is nothing to sign in with.
  // Signing out asks for nothing.
  if (view.identifier() != pane::kLoginButton || plugin_.signedIn()) return true;
  for (const char* needed : {pane::kUserName, pane::kPassword}) {
    const auto field =
        std::dynamic_pointer_cast<TextField>(settingsView_->viewWithIdentifier(needed));
    if (field && field->stringValue().empty()) return false;
  }
  return true;
}

void PaneWidget::changeEvent(QEvent* event) {
  QGroupBox::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) colourNotice();
}

void PaneWidget::colourNotice() {
  auto* notice = qobject_cast<QLabel*>(widgetFor(pane::kNotice));
  if (notice == nullptr) return;
  // A warning red, moved towards the theme's own text colour until it reads well on the theme's
  // background: dark red on a light theme, a light red on a dark one.
  const QPalette theme = palette();
  const QColor background = theme.color(QPalette::Window);
  const QColor text = theme.color(QPalette::WindowText);
  const QColor red =
      luminance(background) > 0.5 ? QColor(0xc4, 0x2b, 0x1c) : QColor(0xff, 0x8a, 0x80);
  QColor chosen = text;
  for (int step = 0; step <= 10; ++step) {
    const QColor candidate = mix(red, text, step / 10.0);
    if (contrast(candidate, background) >= kReadableContrast) {
      chosen = candidate;
      break;
    }
  }
  QPalette own = notice->palette();
  own.setColor(QPalette::WindowText, chosen);
  notice->setPalette(own);
}

bool PaneWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QGroupBox::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const char* characters = key->key() == Qt::Key_Return  ? "\r"
                           : key->key() == Qt::Key_Enter ? "\x03"
                                                         : nullptr;
  if (characters == nullptr) return QGroupBox::eventFilter(watched, event);
  // A field's own action comes first, as Return in a text field fires its action.
  for (const auto& bound : widgets_) {
    if (bound.widget != watched) continue;
    auto field = std::dynamic_pointer_cast<TextField>(bound.view.lock());
    if (!field || !field->hasAction()) break;
    // Return in the user name or password signs in as "Log In" does: not while it is unusable.
    const QWidget* logIn = widgetFor(pane::kLoginButton);
    const bool signsIn = bound.identifier == pane::kUserName || bound.identifier == pane::kPassword;
    if (signsIn && logIn != nullptr && !logIn->isEnabled()) return true;
    act([field] { field->performAction(); });
    return true;
  }
  auto* box = dynamic_cast<ExportPluginBoxProtocol*>(settingsView_.get());
  if (box == nullptr) return QGroupBox::eventFilter(watched, event);
  // Handled by the pane: the key goes no further (it does not press the dialog's Post button).
  bool handled = true;
  guardedSlot(this, [&] { handled = box->performKeyEquivalent(KeyEvent{characters}); });
  return handled;
}

}  // namespace marigold::gui
