#pragma once

#include <QString>
#include <string>

namespace yuragi {

// Paths are split at the last "/" only; ":" is an ordinary character here.
QString FolderPart(const QString& path);  // up to and including the last "/"
QString FileNamePart(const QString& path);  // after the last "/"
QString ExtensionPart(const QString& path);  // from the last "." of the file name, dot included
QString ChangeExtension(const QString& path, const QString& extension);

// File names travel to the kernel as the locale's bytes (UTF-8 here).
std::string NativePath(const QString& path);
QString DisplayPath(const std::string& nativePath);

}  // namespace yuragi
