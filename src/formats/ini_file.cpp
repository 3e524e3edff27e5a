#include "formats/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "platform/output_file.h"
#include "platform/unique_fd.h"

namespace yuragi {

namespace {

// A settings file is small; anything larger is not one.
constexpr qsizetype kMaxFileSize = 16 * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray TrimmedLeft(const QByteArray& text) {
  qsizetype from = 0;
  while (from < text.size() && IsBlank(text[from])) ++from;
  return text.mid(from);
}

QByteArray TrimmedRight(const QByteArray& text) {
  qsizetype to = text.size();
  while (to > 0 && IsBlank(text[to - 1])) --to;
  return text.left(to);
}

QByteArray Trimmed(const QByteArray& text) { return TrimmedRight(TrimmedLeft(text)); }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Only ASCII letters fold: the bytes of other characters compare as they are.
bool SameName(const QByteArray& a, const QByteArray& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal within the 32-bit range, or up to eight hexadecimal digits taken
// as the 32-bit pattern they spell ("$FFFFFFFF" is -1).
bool ParseInteger(const QByteArray& raw, int* value) {
  const QByteArray text = Trimmed(raw);
  qsizetype at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  bool hex = false;
  if (at < text.size() && text[at] == '$') {
    hex = true;
    at += 1;
  } else if (at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
    hex = true;
    at += 2;
  }
  if (at >= text.size()) return false;
  uint64_t magnitude = 0;
  for (; at < text.size(); ++at) {
    const int digit = hex ? HexDigit(text[at]) : (text[at] >= '0' && text[at] <= '9' ? text[at] - '0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + uint64_t(digit);
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  if (hex) {
    const auto pattern = uint32_t(magnitude);
    *value = int(negative ? 0u - pattern : pattern);
    return true;
  }
  const int64_t signedValue = negative ? -int64_t(magnitude) : int64_t(magnitude);
  if (signedValue < std::numeric_limits<int>::min() || signedValue > std::numeric_limits<int>::max()) return false;
  *value = int(signedValue);
  return true;
}

// Length in bytes of a well-formed UTF-8 sequence starting at text[at], or
// 0 when the byte there starts none.
int Utf8Length(const QByteArray& text, qsizetype at) {
  const auto lead = uchar(text[at]);
  int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (int i = 1; i < length; ++i) {
    if ((uchar(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// The first count characters: a well-formed UTF-8 sequence counts as one,
// any other byte (a name in another encoding) as one.
QByteArray FirstCharacters(const QByteArray& text, int count) {
  qsizetype at = 0;
  for (int n = 0; n < count && at < text.size(); ++n) at += std::max(1, Utf8Length(text, at));
  return text.left(at);
}

bool ReadWholeFile(const QByteArray& path, QByteArray* bytes) {
  // Non-blocking, so a pipe put where the file should be cannot hang the start.
  const UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) return false;
  QByteArray data;
  char block[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    data.append(block, n);
    if (data.size() > kMaxFileSize) return false;
  }
  *bytes = data;
  return true;
}

}  // namespace

IniFile IniFile::Load(const QByteArray& path) {
  QByteArray text;
  if (!ReadWholeFile(path, &text)) return IniFile();
  return Parse(text);
}

IniFile IniFile::Parse(const QByteArray& text) {
  IniFile file;
  QByteArray body = text;
  if (body.startsWith("\xEF\xBB\xBF")) body.remove(0, 3);  // a byte-order mark left by an editor
  Section* current = nullptr;
  for (QByteArray line : body.split('\n')) {
    if (line.endsWith('\r')) line.chop(1);
    const QByteArray start = TrimmedLeft(line);
    if (Trimmed(start).isEmpty() || start.startsWith(';')) continue;
    if (start.startsWith('[')) {
      const qsizetype close = start.indexOf(']');
      const QByteArray name = close < 0 ? start.mid(1) : start.mid(1, close - 1);
      file.sections_.push_back({Trimmed(name), {}});
      current = &file.sections_.back();
      continue;
    }
    if (!current) continue;
    const qsizetype equals = start.indexOf('=');
    if (equals < 0) {
      current->entries.push_back({TrimmedRight(start), {}, true});
    } else {
      // Trailing blanks belong to the value: a folder name may end in one.
      current->entries.push_back({TrimmedRight(start.left(equals)), TrimmedLeft(start.mid(equals + 1)), false});
    }
  }
  return file;
}

const IniFile::Section* IniFile::FindSection(const QByteArray& name) const {
  for (const Section& section : sections_) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

const IniFile::Entry* IniFile::FindEntry(const QByteArray& section, const QByteArray& key) const {
  const Section* found = FindSection(section);
  if (!found) return nullptr;
  for (const Entry& entry : found->entries) {
    if (!entry.bare && SameName(entry.key, key)) return &entry;
  }
  return nullptr;
}

bool IniFile::HasSection(const QByteArray& section) const { return FindSection(section) != nullptr; }

bool IniFile::HasKey(const QByteArray& section, const QByteArray& key) const {
  return FindEntry(section, key) != nullptr;
}

int IniFile::ReadInteger(const QByteArray& section, const QByteArray& key, int defaultValue) const {
  const Entry* entry = FindEntry(section, key);
  int value = 0;
  return entry && ParseInteger(entry->value, &value) ? value : defaultValue;
}

bool IniFile::ReadBool(const QByteArray& section, const QByteArray& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QByteArray IniFile::ReadText(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const {
  const Entry* entry = FindEntry(section, key);
  return entry ? FirstCharacters(entry->value, MaxTextLength) : defaultValue;
}

void IniFile::WriteText(const QByteArray& section, const QByteArray& key, const QByteArray& value) {
  auto found = std::find_if(sections_.begin(), sections_.end(),
                            [&section](const Section& s) { return SameName(s.name, section); });
  if (found == sections_.end()) {
    sections_.push_back({section, {}});
    found = sections_.end() - 1;
  }
  // A line break cannot be kept in a line-based file: such a value would
  // come back cut, with the rest as a stray line. It is not stored at all.
  const bool storable = !value.contains('\n') && !value.contains('\r');
  auto& entries = found->entries;
  const auto same = std::find_if(entries.begin(), entries.end(),
                                 [&key](const Entry& e) { return !e.bare && SameName(e.key, key); });
  if (!storable) {
    // Every copy goes, or a later one would be read in its place.
    std::erase_if(entries, [&key](const Entry& e) { return !e.bare && SameName(e.key, key); });
  } else if (same != entries.end()) {
    *same = {key, value, false};
  } else {
    entries.push_back({key, value, false});
  }
}

void IniFile::WriteInteger(const QByteArray& section, const QByteArray& key, int value) {
  WriteText(section, key, QByteArray::number(value));
}

void IniFile::WriteBool(const QByteArray& section, const QByteArray& key, bool value) {
  WriteText(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const QByteArray& section) {
  std::erase_if(sections_, [&section](const Section& s) { return SameName(s.name, section); });
}

QByteArray IniFile::Text() const {
  QByteArray text;
  for (const Section& section : sections_) {
    text += '[' + section.name + "]\r\n";
    for (const Entry& entry : section.entries) {
      text += entry.bare ? entry.key : entry.key + '=' + entry.value;
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

bool IniFile::Save(const QByteArray& path, QString* error) const {
  const std::string target = path.toStdString();
  const size_t slash = target.rfind('/');
  if (slash != std::string::npos && !MakeFolders(target.substr(0, slash + 1), 0700)) {
    if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  return ReplaceFileAtomically(path, Text(), error);
}

}  // namespace yuragi
