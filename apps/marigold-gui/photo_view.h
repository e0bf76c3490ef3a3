// A framed picture (the pane's preview, the sheet's completion image). Unlike a label it draws the
// photo in its own colours even while a sheet has the rest of the window disabled; without a
// picture it shows a short text. Main thread only.
#pragma once

#include <QFrame>
#include <QPixmap>
#include <QString>

namespace marigold::gui {

class PhotoView : public QFrame {
 public:
  explicit PhotoView(QString emptyText, QWidget* parent = nullptr);

  const QPixmap& pixmap() const { return pixmap_; }
  void setPixmap(QPixmap pixmap);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString emptyText_;
  QPixmap pixmap_;
};

}  // namespace marigold::gui
