#include "image_pixmap.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <string>

#include "imaging/photo_preparation.h"

namespace marigold::gui {
namespace {

QImage readScaled(QImageReader& reader, QSize box, qreal devicePixelRatio) {
  const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1;
  const QSize pixels = box * ratio;
  reader.setAutoTransform(true);
  // Decode at the size shown where the format can (JPEG scales while decoding): a thumbnail of a
  // large photo does not need its every pixel in memory.
  QSize full = reader.size();
  if (reader.transformation() & QImageIOHandler::TransformationRotate90) full.transpose();
  if (full.isValid() && (full.width() > pixels.width() || full.height() > pixels.height())) {
    QSize scaled = full.scaled(pixels, Qt::KeepAspectRatio);
    if (reader.transformation() & QImageIOHandler::TransformationRotate90) scaled.transpose();
    reader.setScaledSize(scaled);
  }
  QImage image = reader.read();
  if (image.isNull()) return {};
  if (image.width() > pixels.width() || image.height() > pixels.height()) {
    image = image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  image.setDevicePixelRatio(ratio);
  return image;
}

}  // namespace

QPixmap pixmapOf(const Image& image, QSize box, qreal devicePixelRatio) {
  return QPixmap::fromImage(imageOf(image, box, devicePixelRatio));
}

QImage imageOf(const Image& image, QSize box, qreal devicePixelRatio) {
  if (!image.data) return {};
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(image.data->data()),
                                             static_cast<qsizetype>(image.data->size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  return readScaled(reader, box, devicePixelRatio);
}

QImage imageOfFile(const QString& path, QSize box, qreal devicePixelRatio, QString* problem) {
  const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1;
  const QSize pixels = box * ratio;
  std::string why;
  const auto thumbnail =
      imaging::decodeThumbnail(path.toStdString(), std::max(pixels.width(), pixels.height()), &why);
  if (!thumbnail) {
    if (problem) *problem = QString::fromStdString(why);
    return {};
  }
  QImage image = QImage(thumbnail->rgba.data(), thumbnail->width, thumbnail->height,
                        thumbnail->width * 4, QImage::Format_RGBA8888)
                     .copy();  // the pixels outlive the decoder's buffer
  if (image.width() > pixels.width() || image.height() > pixels.height()) {
    image = image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  image.setDevicePixelRatio(ratio);
  return image;
}

}  // namespace marigold::gui
