#include "image_pixmap.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

namespace marigold::gui {
namespace {

QPixmap readScaled(QImageReader& reader, QSize box) {
  reader.setAutoTransform(true);
  // Decode at the size shown where the format can (JPEG scales while decoding): a thumbnail of a
  // large photo does not need its every pixel in memory.
  const QSize full = reader.size();
  if (full.isValid() && (full.width() > box.width() || full.height() > box.height())) {
    reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio));
  }
  QImage image = reader.read();
  if (image.isNull()) return {};
  if (image.width() > box.width() || image.height() > box.height()) {
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return QPixmap::fromImage(image);
}

}  // namespace

QPixmap pixmapOf(const Image& image, QSize box) {
  if (!image.data) return {};
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(image.data->data()),
                                             static_cast<qsizetype>(image.data->size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  return readScaled(reader, box);
}

QPixmap pixmapOfFile(const QString& path, QSize box) {
  QImageReader reader(path);
  return readScaled(reader, box);
}

}  // namespace marigold::gui
