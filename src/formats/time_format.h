#pragma once

#include <QDateTime>
#include <QString>
#include <ctime>

namespace yuragi {

// Short date, then unless the time is 00:00:00 a blank and the long time
// ("2007/05/12 9:04:22" in Japanese).
QString FormatFileTime(std::time_t when);
QString FormatFileTime(const QDateTime& local);

// Status-bar clock "yyyy/mm/dd(aaa) hh:nn:ss".
QString FormatClock(const QDateTime& local);

// "$yyyymmdd-hhnnsszzz" of the download file names.
QString FormatTempStamp(const QDateTime& local);

// "YYYY-MM-DD HH:MM:SS" local time, for scripts.
QString FormatIsoLocal(std::time_t when);

}  // namespace yuragi
