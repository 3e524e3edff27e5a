#include "refetch/archive_timemap.h"

#include <strings.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "platform/http_header_lines.h"

namespace yuragi {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Walks the link-value list of RFC 8288: <URI> followed by ";"-separated
// parameters, links separated by ",". Commas and semicolons count only
// outside the angle brackets and outside quoted strings.
class LinkReader {
 public:
  explicit LinkReader(std::string_view text) : text_(text) {}

  struct Link {
    std::string rel;
    std::string datetime;
    bool comma = false;     // ended by a comma, not by the end of the text
    bool open = false;      // ran into the end inside brackets or quotes
  };

  // The next link; false at the end of the text.
  bool Next(Link& link) {
    link = Link{};
    SkipBlanksAndCommas();
    if (at_ >= text_.size()) return false;
    if (text_[at_] != '<') {
      SkipEntry(link);  // no link starts here: drop up to the next comma
      link.rel.clear();
      return true;
    }
    const size_t close = text_.find('>', at_ + 1);
    if (close == std::string_view::npos) {
      at_ = text_.size();
      link.open = true;
      return true;
    }
    at_ = close + 1;
    ReadParameters(link);
    return true;
  }

 private:
  void SkipBlanks() {
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
  }
  void SkipBlanksAndCommas() {
    while (at_ < text_.size() && (IsBlank(text_[at_]) || text_[at_] == ',')) ++at_;
  }

  // A quoted string from its opening quote, with its backslash escapes
  // undone; false when the text ends inside it.
  bool ReadQuoted(std::string& value) {
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c == '\\' && at_ < text_.size()) {
        value += text_[at_++];
      } else {
        value += c;
      }
    }
    return false;
  }

  void ReadToken(std::string& value) {
    while (at_ < text_.size() && !IsBlank(text_[at_]) && text_[at_] != ';' && text_[at_] != ',') value += text_[at_++];
  }

  void ReadParameters(Link& link) {
    for (;;) {
      SkipBlanks();
      if (at_ >= text_.size()) return;
      const char c = text_[at_];
      if (c == ',') {
        ++at_;
        link.comma = true;
        return;
      }
      if (c != ';') {
        // Stray text between parameters is passed over, quotes respected.
        if (c == '"') {
          std::string ignored;
          if (!ReadQuoted(ignored)) return Opened(link);
        } else {
          ++at_;
        }
        continue;
      }
      ++at_;
      SkipBlanks();
      std::string name;
      while (at_ < text_.size() && !IsBlank(text_[at_]) && text_[at_] != '=' && text_[at_] != ';' &&
             text_[at_] != ',') {
        name += text_[at_++];
      }
      SkipBlanks();
      std::string value;
      if (at_ < text_.size() && text_[at_] == '=') {
        ++at_;
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == '"') {
          if (!ReadQuoted(value)) return Opened(link);
        } else {
          ReadToken(value);
        }
      }
      // The first occurrence of a parameter counts (RFC 8288, 3).
      if (strcasecmp(name.c_str(), "rel") == 0 && link.rel.empty()) link.rel = value;
      if (strcasecmp(name.c_str(), "datetime") == 0 && link.datetime.empty()) link.datetime = value;
    }
  }

  void Opened(Link& link) {
    at_ = text_.size();
    link.open = true;
  }

  void SkipEntry(Link& link) {
    while (at_ < text_.size() && text_[at_] != ',') {
      if (text_[at_] == '"') {
        std::string ignored;
        if (!ReadQuoted(ignored)) return Opened(link);
      } else if (text_[at_] == '<') {
        const size_t close = text_.find('>', at_ + 1);
        if (close == std::string_view::npos) return Opened(link);
        at_ = close + 1;
      } else {
        ++at_;
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
};

// rel is a blank-separated list of relation types.
bool IsMemento(const std::string& rel) {
  size_t at = 0;
  while (at < rel.size()) {
    while (at < rel.size() && IsBlank(rel[at])) ++at;
    size_t end = at;
    while (end < rel.size() && !IsBlank(rel[end])) ++end;
    if (end - at == 7 && strncasecmp(rel.data() + at, "memento", 7) == 0) return true;
    at = end;
  }
  return false;
}

}  // namespace

std::string CaptureTimeOf(std::string_view httpDate) {
  // RFC 7089 asks for the date form of RFC 1123; libcurl reads it and the
  // older forms alike.
  const std::optional<time_t> when = HttpDate(httpDate);
  if (!when) return {};
  std::tm parts{};
  if (!gmtime_r(&*when, &parts)) return {};
  char digits[32];
  if (std::strftime(digits, sizeof digits, "%Y%m%d%H%M%S", &parts) != 14) return {};
  return digits;
}

std::vector<std::string> ParseTimeMap(std::string_view text, bool cut, size_t most) {
  std::vector<std::string> times;
  LinkReader reader(text);
  LinkReader::Link link;
  while (reader.Next(link)) {
    if (link.open || (cut && !link.comma) || !IsMemento(link.rel)) continue;
    std::string time = CaptureTimeOf(link.datetime);
    if (!time.empty()) times.push_back(std::move(time));
  }
  std::sort(times.begin(), times.end(), std::greater<>());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  if (times.size() > most) times.resize(most);
  return times;
}

}  // namespace yuragi
