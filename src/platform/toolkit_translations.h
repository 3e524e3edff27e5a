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

}  // namespace yuragi
