#include "platform/picture_loader.h"

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QScreen>

#include "platform/jpeg_decoder.h"
#include "platform/paths.h"

namespace yuragi {

namespace {

// A preview never shows more than the screen, so it need not decode more.
DecodeRequest PreviewSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize size = screen ? screen->size() : QSize(1920, 1080);
  return DecodeRequest{size.width(), size.height()};
}

QPixmap ToPixmap(const std::optional<RgbImage>& decoded) { return decoded ? ToPixmap(*decoded) : QPixmap(); }

}  // namespace

QPixmap ToPixmap(const RgbImage& image) {
  if (image.empty()) return {};
  return QPixmap::fromImage(
      QImage(image.pixels.data(), image.width, image.height, image.width * 3, QImage::Format_RGB888));
}

QPixmap LoadPicture(const QString& path) {
  const QString extension = ExtensionPart(path).toLower();
  if (extension == QLatin1String(".jpg") || extension == QLatin1String(".jpeg")) {
    return ToPixmap(DecodeJpegFile(NativePath(path), PreviewSize()));
  }
  if (extension == QLatin1String(".bmp") || extension == QLatin1String(".ico")) {
    QImageReader reader(path, extension.mid(1).toLatin1());
    reader.setDecideFormatFromContent(false);
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
  }
  return {};
}

QPixmap JpegPreview(const QByteArray& bytes) {
  return ToPixmap(DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()),
                             PreviewSize()));
}

}  // namespace yuragi
