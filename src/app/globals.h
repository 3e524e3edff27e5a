#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>

#include "app/build_info.h"

// The few texts and flags the window's handlers share. Paths are the file
// system's exact bytes; text made from them is only for showing.

inline const QString ProductName = QStringLiteral("ゆらぎ丸");
inline const QString ProductVersion = QString::fromLatin1(yuragi::kProductVersionText);
inline const QString TempImageName = QStringLiteral("$VantrelTemp.jpg");

// Mirrored into the main window's title, which is the task-bar text here.
extern QString ApplicationTitle;

extern QByteArray TargetPath;        // the target file of the re-fetch tab
extern QByteArray InitialFolder;     // start folder of the folder tree and the open dialog
extern QByteArray TempDir;           // private temporary folder, with its closing "/"
extern QByteArray TempDownloadPath;  // the file receiving the current download
extern QByteArray TempImagePath;     // copy of the last downloaded picture
// The settings file; found beside the executable or in the user's
// configuration folder when the main window is built and still empty.
extern QByteArray SettingsFile;

// Set by either cancel button; polled by the detection walk and the download.
extern std::atomic<bool> CancelRequested;
