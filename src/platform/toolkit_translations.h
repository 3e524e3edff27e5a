#pragma once

#include <QByteArray>
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

// Qt's own views (the file dialog's dates and sizes) follow the system
// locale, which Qt reads from the environment once, when first asked. Made
// before the application object, this lets Qt read Japanese for dates and
// numbers; Restore() (or the end of its life) puts the user's environment
// back, so programs started later get it unchanged.
class JapaneseSystemLocale {
 public:
  JapaneseSystemLocale();
  ~JapaneseSystemLocale() { Restore(); }
  JapaneseSystemLocale(const JapaneseSystemLocale&) = delete;
  JapaneseSystemLocale& operator=(const JapaneseSystemLocale&) = delete;
  // Asks Qt for the system locale once, then restores the environment.
  void Restore();

 private:
  struct Saved {
    const char* name;
    bool set;
    QByteArray value;
  };
  Saved saved_[2];
  bool restored_ = false;
};

}  // namespace yuragi
