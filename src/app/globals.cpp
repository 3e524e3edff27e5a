#include "app/globals.h"

QString ApplicationTitle;
QByteArray TargetPath;
QByteArray InitialFolder;
QByteArray TempDir;
QByteArray TempDownloadPath;
QByteArray TempImagePath;
QByteArray SettingsFile;
std::atomic<bool> CancelRequested{false};
