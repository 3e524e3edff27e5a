#pragma once

#include <QTranslator>
#include <memory>

class QLocale;

namespace yuragi {

// Installs Qt's own translations (standard buttons, file dialogs) for the
// locale, so はい / いいえ sit next to the window's Japanese texts. The
// translations stay installed while the returned object lives; null when
// Qt has none for that language.
std::unique_ptr<QTranslator> InstallToolkitTranslations(const QLocale& locale);

// The program speaks Japanese only: Japanese becomes the default locale (dates,
// weekday names, numbers) and Qt's Japanese translations are installed,
// whatever the system locale. Null when Qt has no Japanese translations;
// the locale is set all the same.
std::unique_ptr<QTranslator> UseJapaneseThroughout();

}  // namespace yuragi
