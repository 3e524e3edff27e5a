#include "app/globals.h"

QString ApplicationTitle;
QString TargetPath;
QString InitialFolder;
QString TempDir;
QString TempDownloadPath;
QString TempImagePath;
QByteArray SettingsFile;
std::atomic<bool> CancelRequested{false};
