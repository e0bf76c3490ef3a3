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
  QRect target(QPoint(0, 0), pixmap_.size().scaled(inside.size(), Qt::KeepAspectRatio));
  target.moveCenter(inside.center());
  painter.drawPixmap(target, pixmap_);
}

}  // namespace marigold::gui
