#include "photo_view.h"

#include <QPainter>

namespace marigold::gui {

PhotoView::PhotoView(QString emptyText, QWidget* parent)
    : QFrame(parent), emptyText_(std::move(emptyText)) {}

void PhotoView::setPixmap(QPixmap pixmap) {
  pixmap_ = std::move(pixmap);
  update();
}

void PhotoView::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QRect inside = contentsRect();
  if (pixmap_.isNull()) {
    painter.drawText(inside, Qt::AlignCenter, emptyText_);
    return;
  }
  // In logical pixels: a photo decoded for a screen scaled by 2 fills the same box, twice as sharp.
  const QSize shown = pixmap_.deviceIndependentSize().toSize().boundedTo(inside.size());
  QRect target(QPoint(0, 0),
               pixmap_.deviceIndependentSize().toSize().scaled(shown, Qt::KeepAspectRatio));
  target.moveCenter(inside.center());
  painter.drawPixmap(target, pixmap_);
}

}  // namespace marigold::gui
