#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace yuragi {

class HttrackCaches;

// Where a file's source URL came from, in the order of trust.
enum class UrlSource { Xattr, Httrack, Zone, Folder };

// "xattr", "httrack", "zone", "folder".
const char* UrlSourceName(UrlSource source);

struct SourceUrl {
  UrlSource source = UrlSource::Folder;
  QString url;          // as shown: readable, escapes of UTF-8 and of blanks undone
  std::string request;  // as sent
  QString folderUrl;    // the folder rule's URL, whatever was recorded
  std::optional<uint64_t> expectedSize;  // the size HTTrack recorded
  std::string note;     // records that were there but not used, and why
};

// Looks up what a file and its mirror recorded: the user.xdg.origin.url
// attribute, HTTrack's cache, the Windows download mark; else the folder
// rule. Keeps each HTTrack cache it read for the next files.
class UrlRecords {
 public:
  UrlRecords();
  ~UrlRecords();
  UrlRecords(const UrlRecords&) = delete;
  UrlRecords& operator=(const UrlRecords&) = delete;

  // path is absolute, as its bytes.
  SourceUrl Lookup(const QByteArray& path);

  HttrackCaches& Httrack() { return *httrack_; }

 private:
  std::unique_ptr<HttrackCaches> httrack_;
};

// An http or https URL with a host, at most 8 KB, without control bytes.
bool IsUsableRecordedUrl(std::string_view url);

// HostUrl of the [ZoneTransfer] section of a Zone.Identifier stream.
std::optional<std::string> ZoneHostUrl(std::string_view text);

// A recorded URL as the URL box shows it: escapes of UTF-8 characters and
// of bytes a request escapes anyway are undone, all others stay.
QString ReadableUrl(std::string_view recorded);

// A recorded URL as it is sent: as recorded, with only the bytes a request
// cannot carry escaped. Its own escapes stay as they are.
std::string RecordedRequestUrl(std::string_view recorded);

}  // namespace yuragi
