#pragma once

#include <QByteArray>
#include <QString>

namespace yuragi {

// "／" and "\" become "/".
QString NormalizeSlashes(const QString& path);

// The assumed source URL of a saved file: the first folder whose name holds
// a dot is the host, everything above it is dropped. Pure text, never fails.
QString BuildSourceUrl(const QString& path);

// A file's path as the URL rule reads it: UTF-8 stays readable, every byte
// that is not UTF-8 becomes "%HH", which is what the site had before a
// mirroring tool stored the byte itself.
QString UrlTextOfPath(const QByteArray& path);

// BuildSourceUrl of a path's bytes.
QString SourceUrlOfPath(const QByteArray& path);

}  // namespace yuragi
