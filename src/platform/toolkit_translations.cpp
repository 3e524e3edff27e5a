#include "platform/toolkit_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <utility>

namespace yuragi {

std::unique_ptr<QTranslator> InstallToolkitTranslations(const QLocale& locale) {
  auto translator = std::make_unique<QTranslator>();
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) return nullptr;
  if (!QCoreApplication::installTranslator(translator.get())) return nullptr;
  return translator;
}

std::unique_ptr<QTranslator> UseJapaneseThroughout() {
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);
  QLocale::setDefault(japanese);
  return InstallToolkitTranslations(japanese);
}

JapaneseSystemLocale::JapaneseSystemLocale()
    : saved_{{"LC_TIME", qEnvironmentVariableIsSet("LC_TIME"), qgetenv("LC_TIME")},
             {"LC_NUMERIC", qEnvironmentVariableIsSet("LC_NUMERIC"), qgetenv("LC_NUMERIC")}} {
  // LC_ALL would win over both; it also sets the messages, left to the user.
  if (qEnvironmentVariableIsSet("LC_ALL")) {
    restored_ = true;
    return;
  }
  for (const Saved& each : saved_) qputenv(each.name, "ja_JP.UTF-8");
}

void JapaneseSystemLocale::Restore() {
  if (std::exchange(restored_, true)) return;
  (void)QLocale::system();
  for (const Saved& each : saved_) {
    if (each.set) qputenv(each.name, each.value);
    else qunsetenv(each.name);
  }
}

}  // namespace yuragi
