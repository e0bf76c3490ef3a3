// The window's list of photos to post. Whenever it gets the keyboard focus its current photo is
// also selected (the first when none is current), so that Delete and the moves act at once on the
// photo the focus frame shows. Main thread only.
#pragma once

#include <QListWidget>

namespace marigold::gui {

class PhotoList : public QListWidget {
 public:
  explicit PhotoList(QWidget* parent = nullptr) : QListWidget(parent) {}

 protected:
  void focusInEvent(QFocusEvent* event) override;
};

}  // namespace marigold::gui
