// Photos decoded for real with Qt's image readers (JPEG, PNG, GIF, TIFF and whatever plug-ins the
// system has), turned upright by their orientation tag and scaled to fit a box for display.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

#include "platform/image.h"

namespace marigold::gui {

// The image the plug-in read, scaled to fit `box`; null when Qt cannot decode its bytes.
QPixmap pixmapOf(const Image& image, QSize box);
// The photo in the file at `path`, scaled to fit `box`; null when it cannot be read or decoded.
QPixmap pixmapOfFile(const QString& path, QSize box);

}  // namespace marigold::gui
