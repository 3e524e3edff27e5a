#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace yuragi {

// A settings file in the common INI layout, held whole in memory.
//
// Written by hand on purpose: QSettings sorts keys and escapes values, and
// GKeyFile matches case-sensitively and keeps comments; neither keeps this
// layout. Section and key names match without regard to ASCII case. Values
// are bytes: UTF-8 text, or a path's own bytes whatever its encoding.
class IniFile {
 public:
  // An absent or unreadable file gives an empty one.
  static IniFile Load(const QByteArray& path);
  static IniFile Parse(const QByteArray& text);

  // Decimal, or hexadecimal after "$", "0x" or "0X"; anything else, and a
  // missing key, gives the default.
  int ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const;
  // Read as an integer: any non-zero number is true.
  bool ReadBool(const QByteArray& section, const QByteArray& key, bool defaultValue) const;
  // At most MaxTextLength characters come back.
  QByteArray ReadText(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const;
  bool HasKey(const QByteArray& section, const QByteArray& key) const;
  bool HasSection(const QByteArray& section) const;

  // An existing key is replaced in its place, a new one appended to its
  // section; a new section is appended at the end. A text holding a line
  // break is not stored, and the key is removed.
  void WriteInteger(const QByteArray& section, const QByteArray& key, int value);
  void WriteBool(const QByteArray& section, const QByteArray& key, bool value);
  void WriteText(const QByteArray& section, const QByteArray& key, const QByteArray& value);
  // Removes every section of that name with all its keys.
  void EraseSection(const QByteArray& section);

  // Each section as its line, its entries and one empty line, every line
  // ended by CR LF.
  QByteArray Text() const;
  // Replaces the file in one rename, creating its folder when missing; on
  // failure the old file stays and error holds the system's reason.
  bool Save(const QByteArray& path, QString* error) const;

  static constexpr int MaxTextLength = 2047;

 private:
  struct Entry {
    QByteArray key;
    QByteArray value;
    bool bare = false;  // a line without "=", kept as it was
  };
  struct Section {
    QByteArray name;
    std::vector<Entry> entries;
  };

  const Section* FindSection(const QByteArray& name) const;
  const Entry* FindEntry(const QByteArray& section, const QByteArray& key) const;

  std::vector<Section> sections_;
};

}  // namespace yuragi
