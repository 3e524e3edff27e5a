// The launcher's Exec line for any program path: read back as the desktop
// reads it, it must name the same path, or the path is refused with a reason.
#include <gio/gio.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <QByteArray>
#include <QString>

#include "desktop/launcher_entry.h"

namespace {

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
struct StrvDeleter {
  void operator()(gchar** strv) const { g_strfreev(strv); }
};
struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};

// The field codes' "%%" becomes "%"; no other field code may appear.
QByteArray ExpandPercent(const QByteArray& argument) {
  QByteArray out;
  for (qsizetype i = 0; i < argument.size(); ++i) {
    if (argument[i] == '%') {
      if (i + 1 >= argument.size() || argument[i + 1] != '%') std::abort();
      ++i;
    }
    out += argument[i];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray path(reinterpret_cast<const char*>(data), qsizetype(size));
  QString reason;
  const QByteArray text = yuragi::LauncherText(QStringLiteral("ゆらぎ丸"), path, QStringLiteral("yuragimaru"), &reason);
  const bool utf8 = g_utf8_validate(path.constData(), path.size(), nullptr) && !path.contains('\0');
  // env, which a "%" needs, would take a path holding "=" for a variable.
  const bool unnameable = !utf8 || (path.contains('%') && path.contains('='));
  if (text.isEmpty()) {
    // A refusal is an answer too, when it says why and the path cannot be named.
    if (reason.isEmpty() || !unnameable) std::abort();
    return 0;
  }
  if (unnameable) std::abort();
  std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), text.constData(), gsize(text.size()), G_KEY_FILE_NONE, nullptr)) {
    std::abort();
  }
  std::unique_ptr<gchar, GFreeDeleter> exec(g_key_file_get_string(file.get(), "Desktop Entry", "Exec", nullptr));
  if (!exec) std::abort();
  gint argc = 0;
  gchar** raw = nullptr;
  if (!g_shell_parse_argv(exec.get(), &argc, &raw, nullptr)) std::abort();
  std::unique_ptr<gchar*, StrvDeleter> argv(raw);
  const bool env = path.contains('%');
  if (argc != (env ? 2 : 1)) std::abort();
  if (env && QByteArray(argv.get()[0]) != "env") std::abort();
  if (ExpandPercent(QByteArray(argv.get()[argc - 1])) != path) std::abort();
  return 0;
}
