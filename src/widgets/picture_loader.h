#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>

namespace yuragi {

struct RgbImage;

QPixmap ToPixmap(const RgbImage& image);

// Loads a picture by its extension, case ignored: jpg and jpeg through the
// JPEG decoder, bmp and ico through the toolkit. Other extensions, and
// content that does not match, give a null pixmap.
QPixmap LoadPicture(const QByteArray& path);

// Decodes JPEG bytes for a preview; null when they are not a JPEG stream.
QPixmap JpegPreview(const QByteArray& bytes);

}  // namespace yuragi
