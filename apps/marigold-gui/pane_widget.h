// The plug-in's settings pane rendered as Qt widgets. Each view of the pane becomes a widget
// found by the view's identifier and bound both ways: a change of the view (through its observers)
// updates the widget; the user's edit or click sets the view and fires its action. Passwords are
// masked; "Log In" is usable once a user name and a password are typed. Every field has a label
// with a mnemonic that screen readers read as the field's name. Return in a field with an action of
// its own (user name, password) fires that action; Return and Enter elsewhere in the pane go to the
// pane's own key handling (ExportPluginBoxProtocol) and are swallowed when it answers them. The
// notice takes its colour from the palette, readable on light and dark themes. The preview is
// decoded on a worker thread. Main thread only.
#pragma once

#include <QGroupBox>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/observable.h"
#include "platform/views.h"
#include "plugin/host_protocol.h"

class QHBoxLayout;

namespace marigold::gui {

class PaneWidget : public QGroupBox {
 public:
  // Renders `plugin`'s settings pane; the plug-in must outlive the widget.
  explicit PaneWidget(ExportPluginProtocol& plugin, QWidget* parent = nullptr);
  PaneWidget(const PaneWidget&) = delete;
  PaneWidget& operator=(const PaneWidget&) = delete;

  // The widget that renders the view named `identifier`; null when the pane has none.
  QWidget* widgetFor(const std::string& identifier) const;
  // Called with the view's identifier and the new text whenever the user edits a text field.
  void setEditHandler(std::function<void(const std::string&, const std::string&)> handler) {
    editHandler_ = std::move(handler);
  }
  // Called with the menu's identifier and the chosen title whenever the user chooses in a menu.
  void setChoiceHandler(std::function<void(const std::string&, const std::string&)> handler) {
    choiceHandler_ = std::move(handler);
  }
  // Puts the keyboard focus in the first enabled, empty text field, in the pane's order; answers
  // whether there was one.
  bool focusFirstEmptyField();
  // Puts the keyboard focus in Password, its text selected, to sign in again; answers whether the
  // field could take it.
  bool focusPassword();

  // The controls in the order the pane shows them: row by row, each row from the left.
  std::vector<QWidget*> inScreenOrder() const;

  // Whether every picture given to the preview has been decoded (and the newest shown).
  bool previewReady() const { return previewsDecoding_ == 0; }

  // The contrast of two colours as screen-reading guidelines measure it (1 to 21).
  static double contrast(const QColor& a, const QColor& b);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  struct Bound {
    std::string identifier;
    QWidget* widget;
    std::weak_ptr<View> view;
  };

  QWidget* bind(const std::shared_ptr<View>& view);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void colourNotice();
  // Whether the host lets the user use the view's control besides the plug-in's enabling: "Log
  // In" only with a user name and a password typed.
  bool usable(const View& view) const;
  // Runs a control's action, then moves the focus on when the action disabled the focused field.
  void act(const std::function<void()>& action);

  ExportPluginProtocol& plugin_;
  std::shared_ptr<View> settingsView_;
  std::vector<Bound> widgets_;
  std::map<int, QHBoxLayout*> rows_;  // the form's rows, by their place
  std::vector<Subscription> subscriptions_;
  std::function<void(const std::string&, const std::string&)> editHandler_;
  std::function<void(const std::string&, const std::string&)> choiceHandler_;
  std::function<void()> loginUpdate_;               // enables or disables "Log In" anew
  std::map<std::string, std::string> typedByUser_;  // each field's text as the user last typed it
  int previewTicket_ = 0;
  int previewsDecoding_ = 0;
  QThreadPool previewDecoder_;  // last: waited for before the rest goes
};

}  // namespace marigold::gui
