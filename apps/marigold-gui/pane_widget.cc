#include "pane_widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <map>
#include <optional>

#include "image_pixmap.h"
#include "photo_view.h"
#include "platform/key_event.h"

namespace marigold::gui {
namespace {

// Where the pane's known controls go: a labelled row of the form (controls that share a row sit
// side by side), with a hint for empty fields. Views the table does not name get a row of their
// own after these, labelled with their identifier.
struct Slot {
  const char* identifier;
  int row;
  const char* label;
  const char* placeholder;
};
constexpr Slot kSlots[] = {
    {"plinthUsername", 0, "User name:", "you@example.com"},
    {"plinthPassword", 1, "Password:", ""},
    {"plinthRememberMe", 2, "", ""},
    {"loginButton", 2, "", ""},
    {"plinthSelect", 3, "Blog:", ""},
    {"plinthStatus", 4, "State:", ""},
    {"plinthCaptions", 5, "Caption:", "Say something about the photos"},
    {"plinthTags", 6, "Tags:", "comma, separated, tags"},
    {"plinthClickthrough", 7, "Link:", "https://... (one photo only)"},
    {"notificationField", 8, "", ""},
};
constexpr const char* kPreviewIdentifier = "imagePreview";
constexpr const char* kNoticeIdentifier = "notificationField";
constexpr int kPreviewSide = 160;

const Slot* slotFor(const std::string& identifier) {
  const auto* found = std::find_if(std::begin(kSlots), std::end(kSlots),
                                   [&](const Slot& slot) { return identifier == slot.identifier; });
  return found == std::end(kSlots) ? nullptr : found;
}

QString qText(const std::string& text) { return QString::fromStdString(text); }

// The plug-in's sign-in blocks the thread until the service answers; show that it is working.
void clickWithBusyCursor(Button& button) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  button.performClick();
  QApplication::restoreOverrideCursor();
}

}  // namespace

PaneWidget::PaneWidget(std::shared_ptr<View> settingsView, QWidget* parent)
    : QGroupBox(parent), settingsView_(std::move(settingsView)) {
  if (auto box = std::dynamic_pointer_cast<Box>(settingsView_)) setTitle(qText(box->title()));
  auto* grid = new QGridLayout(this);
  grid->setColumnStretch(1, 1);
  std::map<int, QHBoxLayout*> rows;
  int nextRow = static_cast<int>(std::size(kSlots));
  for (const auto& view : settingsView_->subviews()) {
    QWidget* widget = bind(view);
    if (widget == nullptr) continue;
    if (view->identifier() == kPreviewIdentifier) {
      grid->addWidget(widget, 0, 2, 5, 1, Qt::AlignTop | Qt::AlignRight);
      continue;
    }
    const Slot* slot = slotFor(view->identifier());
    const int row = slot ? slot->row : nextRow++;
    auto [entry, added] = rows.try_emplace(row, nullptr);
    if (added) {
      const QString label = slot ? QString(slot->label) : qText(view->identifier()) + ":";
      if (!label.isEmpty()) grid->addWidget(new QLabel(label, this), row, 0, Qt::AlignRight);
      entry->second = new QHBoxLayout;
      grid->addLayout(entry->second, row, 1);
    }
    entry->second->addWidget(widget, widget->inherits("QLineEdit") || widget->inherits("QLabel"));
    if (slot && slot->placeholder[0] != '\0') {
      if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setPlaceholderText(slot->placeholder);
    }
  }
  grid->setRowStretch(nextRow, 1);
}

QWidget* PaneWidget::widgetFor(const std::string& identifier) const {
  for (const auto& bound : widgets_) {
    if (bound.identifier == identifier) return bound.widget;
  }
  return nullptr;
}

QWidget* PaneWidget::bind(const std::shared_ptr<View>& view) {
  QWidget* widget = nullptr;
  std::function<void()> render;
  if (view->identifier() == kNoticeIdentifier) {
    auto field = std::dynamic_pointer_cast<TextField>(view);
    if (!field) return nullptr;
    auto* label = new QLabel(this);
    label->setWordWrap(true);
    label->setStyleSheet("color: #a4262c; font-weight: bold;");
    render = [label, field] { label->setText(qText(field->stringValue())); };
    widget = label;
  } else if (auto field = std::dynamic_pointer_cast<TextField>(view)) {
    auto* edit = new QLineEdit(this);
    if (field->isSecure()) edit->setEchoMode(QLineEdit::Password);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this,
            [field](const QString& text) { field->setStringValue(text.toStdString()); });
    render = [edit, field] {
      if (edit->text().toStdString() != field->stringValue()) {
        edit->setText(qText(field->stringValue()));
      }
    };
    widget = edit;
  } else if (auto check = std::dynamic_pointer_cast<CheckBox>(view)) {
    auto* box = new QCheckBox(this);
    connect(box, &QCheckBox::clicked, this, [check] { clickWithBusyCursor(*check); });
    render = [box, check] {
      box->setText(qText(check->title()));
      box->setChecked(check->state() == ControlState::kOn);
    };
    widget = box;
  } else if (auto button = std::dynamic_pointer_cast<Button>(view)) {
    auto* push = new QPushButton(this);
    push->setAutoDefault(false);
    connect(push, &QPushButton::clicked, this, [button] { clickWithBusyCursor(*button); });
    render = [push, button] { push->setText(qText(button->title())); };
    widget = push;
  } else if (auto menu = std::dynamic_pointer_cast<PopUpButton>(view)) {
    auto* combo = new QComboBox(this);
    combo->setMinimumContentsLength(16);
    connect(combo, &QComboBox::activated, this, [menu](int index) {
      menu->selectItemAtIndex(index < 0 ? std::nullopt : std::optional<std::size_t>(index));
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
    auto* photo = new PhotoView("No preview", this);
    photo->setFixedSize(kPreviewSide, kPreviewSide);
    photo->setFrameShape(QFrame::StyledPanel);
    render = [photo, image] {
      photo->setPixmap(image->image() ? pixmapOf(*image->image(), photo->contentsRect().size())
                                      : QPixmap());
    };
    widget = photo;
  } else {
    return nullptr;  // containers and views without a control of their own
  }
  widget->setObjectName(qText(view->identifier()));
  std::weak_ptr<View> weak = view;
  auto update = [widget, weak, render] {
    auto shown = weak.lock();
    if (!shown) return;
    render();
    widget->setEnabled(shown->isEnabled());
    widget->setHidden(shown->isHidden());
  };
  update();
  subscriptions_.push_back(view->onChange(update));
  widgets_.push_back({view->identifier(), widget});
  return widget;
}

bool PaneWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QGroupBox::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const char* characters = key->key() == Qt::Key_Return  ? "\r"
                           : key->key() == Qt::Key_Enter ? "\x03"
                                                         : nullptr;
  auto* box = dynamic_cast<ExportPluginBoxProtocol*>(settingsView_.get());
  if (characters == nullptr || box == nullptr) return QGroupBox::eventFilter(watched, event);
  // Handled by the pane: the key goes no further (it does not press the dialog's Post button).
  return box->performKeyEquivalent(KeyEvent{characters});
}

}  // namespace marigold::gui
