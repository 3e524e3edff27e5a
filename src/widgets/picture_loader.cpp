#include "widgets/picture_loader.h"

#include <fcntl.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QScreen>

#include "formats/jpeg_decoder.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

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

QPixmap LoadPicture(const QByteArray& path) {
  const QByteArray extension = ExtensionPart(path).toLower();
  if (extension == ".jpg" || extension == ".jpeg") {
    return ToPixmap(DecodeJpegFile(path.toStdString(), PreviewSize()));
  }
  if (extension == ".bmp" || extension == ".ico") {
    // Opened by its bytes: the name need not be text.
    const UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QFile file;
    if (!fd || !file.open(fd.get(), QIODevice::ReadOnly)) return {};
    QImageReader reader(&file, extension.mid(1));
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
