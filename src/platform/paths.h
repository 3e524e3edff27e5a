#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

namespace yuragi {

// A path is the file system's bytes, whatever encoding a mirroring tool left
// in its names. "/" and "." are single bytes in every encoding used for file
// names, so splitting on the bytes is safe; ":" is an ordinary character.
QByteArray FolderPart(const QByteArray& path);     // up to and including the last "/"
QByteArray FileNamePart(const QByteArray& path);   // after the last "/"
QByteArray ExtensionPart(const QByteArray& path);  // from the last "." of the file name, dot included
QByteArray ChangeExtension(const QByteArray& path, const QByteArray& extension);

// Text for showing a path, never for reaching the file: UTF-8 is decoded,
// every other byte appears as a visible "\xHH" escape.
QString DisplayPath(const QByteArray& path);

// The path as text name by name, "/" between them: a UTF-8 name decoded,
// any other name handed whole to escapeName, which appends it to text
// (decoding a part of such a name would give characters it never had).
QString PathText(const QByteArray& path, void (*escapeName)(QString& text, const QByteArray& name));

// The path a user typed or a dialog returned: taken as UTF-8. When no such
// file exists, names shown by DisplayPath (escapes) or decoded lossily
// (U+FFFD) are matched against the folders' real entries, so the bytes of
// a name that is not UTF-8 are found again.
QByteArray PathFromText(const QString& text);

// The local path of a file: URL as bytes, percent escapes decoded exactly.
QByteArray PathFromFileUrl(const QUrl& url);

// The path made absolute against workingFolder, "." segments and doubled
// "/" removed and ".." taken back, as the window's paths always are. Pure
// text: links are not followed.
QByteArray ResolvedPath(const QByteArray& path, const QByteArray& workingFolder);
// The process's working folder, empty when it cannot be read.
QByteArray WorkingFolder();
// The running executable's absolute path, links resolved, as bytes; read
// anew on each call, so a program renamed since it started has its new name.
QByteArray ExecutablePath();

// Whether the bytes are valid UTF-8 throughout.
bool IsUtf8(const QByteArray& bytes);
// Length of the valid UTF-8 sequence at p (at most left bytes), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t left);

}  // namespace yuragi
