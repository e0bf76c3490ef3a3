// Photos decoded for display, turned upright by their orientation tag and scaled to fit a box: the
// bytes the plug-in read through Qt's image readers, files through the hosts' photo pipeline
// (imaging/photo_preparation.h: JPEG with shrink-on-load, PNG, GIF, TIFF, HEIC). The box is in
// the screen's logical pixels; photos are decoded at `devicePixelRatio` times that, so that they
// stay sharp on a screen scaled by 2.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

#include "platform/image.h"

namespace marigold::gui {

// The image the plug-in read, scaled to fit `box`; null when Qt cannot decode its bytes.
QPixmap pixmapOf(const Image& image, QSize box, qreal devicePixelRatio);
// The same as an image, safe on any thread.
QImage imageOf(const Image& image, QSize box, qreal devicePixelRatio);
// The photo in the file at `path`, scaled to fit `box`; null when it cannot be read or decoded,
// with the reason in `problem` when given. Safe on any thread (no pixmap is made);
// QPixmap::fromImage on the main thread shows it.
QImage imageOfFile(const QString& path, QSize box, qreal devicePixelRatio,
                   QString* problem = nullptr);

}  // namespace marigold::gui
