// The export dialog's own choices of how the photos are prepared before the plug-in sees them: a
// "Photo size" menu (Fit, the default, then Original and long edges of 2048, 1280 and 1024
// pixels) and a "Remove location and camera details" box (checked by default; unchecked keeps
// all the metadata). They belong to the host, not to the plug-in's pane. The size the user chose
// is kept in a user-defaults store and is what the next window starts with; the box starts
// checked in every window, so that a location kept once is not sent again unnoticed. Main thread
// only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "imaging/photo_preparation.h"
#include "platform/user_defaults.h"

class QCheckBox;
class QComboBox;

namespace marigold::gui {

class PreparationControls : public QWidget {
 public:
  // Starts with the size kept in `preferences` (Fit where it keeps none) and keeps every change
  // of size there.
  explicit PreparationControls(std::shared_ptr<UserDefaults> preferences,
                               QWidget* parent = nullptr);

  // The user's choices; the rest of the options at their defaults.
  imaging::PreparationOptions options() const;
  // Called after the user changed a choice.
  void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

  QComboBox* sizeMenu() const { return size_; }
  QCheckBox* locationBox() const { return location_; }

 private:
  QComboBox* size_;
  QCheckBox* location_;
  std::shared_ptr<UserDefaults> preferences_;
  std::function<void()> changed_;
};

}  // namespace marigold::gui
