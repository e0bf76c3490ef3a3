// The plug-in's settings pane rendered as Qt widgets. Each view of the pane becomes a widget
// found by the view's identifier and bound both ways: a change of the view (through its observers)
// updates the widget; the user's edit or click sets the view and fires its action. Passwords are
// masked. Return and Enter typed in the pane go to the pane's own key handling
// (ExportPluginBoxProtocol) and are swallowed when it answers them. A click runs with the busy
// cursor, since the plug-in's sign-in blocks until the service answers. Main thread only.
#pragma once

#include <QGroupBox>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/observable.h"
#include "platform/views.h"
#include "plugin/host_protocol.h"

namespace marigold::gui {

class PaneWidget : public QGroupBox {
 public:
  explicit PaneWidget(std::shared_ptr<View> settingsView, QWidget* parent = nullptr);
  PaneWidget(const PaneWidget&) = delete;
  PaneWidget& operator=(const PaneWidget&) = delete;

  // The widget that renders the view named `identifier`; null when the pane has none.
  QWidget* widgetFor(const std::string& identifier) const;

 private:
  struct Bound {
    std::string identifier;
    QWidget* widget;
  };

  QWidget* bind(const std::shared_ptr<View>& view);
  bool eventFilter(QObject* watched, QEvent* event) override;

  std::shared_ptr<View> settingsView_;
  std::vector<Bound> widgets_;
  std::vector<Subscription> subscriptions_;
};

}  // namespace marigold::gui
