// Freedesktop launcher files: the text of the entry and its safe writing.
#include "platform/glib_owners.h"  // before Qt: its "signals" macro breaks GLib's headers

#include "desktop/launcher_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <memory>

#include "platform/output_file.h"
#include "platform/unique_fd.h"

namespace yuragi {
namespace {

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};

constexpr char kGroup[] = "Desktop Entry";

QString ErrnoText(int error) { return QString::fromUtf8(g_strerror(error)); }

QString Shown(const QByteArray& path) { return QFile::decodeName(path); }

// Control characters are quoted too: unquoted, readers take some of them
// (form feed, vertical tab, CR) for blanks around the value or an argument.
bool IsReserved(char c) {
  static constexpr char kReserved[] = " \t\n\"'\\><~|&;$*?#`()";
  if ((c > '\0' && c < ' ') || c == '\x7f') return true;
  return c != '\0' && std::char_traits<char>::find(kReserved, sizeof kReserved - 1, c) != nullptr;
}

// The temporary file is unlinked unless it was renamed into place.
class PendingFile {
 public:
  explicit PendingFile(QByteArray path) : path_(std::move(path)) {}
  ~PendingFile() {
    if (!path_.isEmpty()) ::unlink(path_.constData());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  void Keep() { path_.clear(); }

 private:
  QByteArray path_;
};

// GVfs keeps these marks; without it the desktop has no such mark to set.
void MarkTrusted(const QByteArray& path) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.constData()));
  g_file_set_attribute_string(file.get(), "metadata::trusted", "true", G_FILE_QUERY_INFO_NONE, nullptr,
                              nullptr);
}

}  // namespace

QByteArray LauncherFolder(LauncherPlace place) {
  QString folder;
  switch (place) {
    case LauncherPlace::Desktop:
      folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
      break;
    case LauncherPlace::Autostart:
      folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/autostart");
      break;
    case LauncherPlace::Applications:
      folder = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
      break;
  }
  return QFile::encodeName(QDir::cleanPath(folder));
}

QByteArray QuoteExecArgument(const QByteArray& argument) {
  bool quote = argument.isEmpty();
  for (char c : argument) quote = quote || IsReserved(c);
  QByteArray out;
  if (quote) out += '"';
  for (char c : argument) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

QByteArray LauncherText(const QString& name, const QByteArray& executable, const QString& icon,
                        QString* reason) {
  if (!g_utf8_validate(executable.constData(), executable.size(), nullptr) || executable.contains('\0')) {
    *reason = QStringLiteral("実行ファイルのパス %1 は UTF-8 ではないため、起動用ファイルに書けません。")
                  .arg(Shown(executable));
    return {};
  }
  // env, needed for a "%" (below), would take a path holding "=" for a
  // variable to set and never start the program.
  if (executable.contains('%') && executable.contains('=')) {
    *reason = QStringLiteral("実行ファイルのパス %1 は % と = を含むため、起動用ファイルに書けません。")
                  .arg(Shown(executable));
    return {};
  }
  std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
  auto set = [&](const char* key, const QByteArray& value) {
    g_key_file_set_string(file.get(), kGroup, key, value.constData());
  };
  set("Type", "Application");
  set("Name", name.toUtf8());
  set("Comment", QByteArrayLiteral("途中で切れた JPEG 画像を見つけて取り直します"));
  // GIO looks for the program named first in Exec before it expands "%%",
  // so a path holding "%" would never start there; env comes first then.
  set("Exec", (executable.contains('%') ? QByteArray("env ") : QByteArray()) + QuoteExecArgument(executable));
  set("Icon", icon.toUtf8());
  g_key_file_set_boolean(file.get(), kGroup, "Terminal", FALSE);
  set("Categories", "Graphics;2DGraphics;RasterGraphics;");
  gsize length = 0;
  GText data(g_key_file_to_data(file.get(), &length, nullptr));
  return QByteArray(data.get(), qsizetype(length));
}

bool WriteLauncher(const QByteArray& folder, const QByteArray& fileName, const QByteArray& text,
                   bool markTrusted, QString* reason) {
  const QByteArray path = folder + '/' + fileName;
  if (g_mkdir_with_parents(folder.constData(), 0700) != 0) {
    *reason = QStringLiteral("フォルダ %1 を作成できません。%2").arg(Shown(folder), ErrnoText(errno));
    return false;
  }
  QByteArray temporary = folder + "/." + fileName + ".XXXXXX";
  const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) {
    *reason = QStringLiteral("%1 を作成できません。%2").arg(Shown(path), ErrnoText(errno));
    return false;
  }
  PendingFile pending(temporary);
  // A launcher is a program to the desktop: it must be executable to start.
  if (!WriteAll(fd.get(), text.constData(), size_t(text.size())) || ::fchmod(fd.get(), 0755) != 0 ||
      ::fsync(fd.get()) != 0 || ::rename(temporary.constData(), path.constData()) != 0) {
    *reason = QStringLiteral("%1 を書き込めません。%2").arg(Shown(path), ErrnoText(errno));
    return false;
  }
  pending.Keep();
  if (markTrusted) MarkTrusted(path);
  return true;
}

}  // namespace yuragi
