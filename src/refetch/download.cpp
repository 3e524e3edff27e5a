#include "refetch/download.h"

#include <QUrl>
#include <algorithm>

#include "platform/http_client.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "formats/time_format.h"

namespace yuragi {

QString DownloadUrl(const QString& urlBoxText) {
  QString url = urlBoxText;
  if (url.endsWith(QLatin1Char('/'))) url.chop(1);
  return url;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool NeedsEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  for (const char* p = "\"<>\\^`{|}#%"; *p; ++p) {
    if (c == static_cast<unsigned char>(*p)) return true;
  }
  return false;
}

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string& wire, unsigned char c) {
  wire += '%';
  wire += kHex[c >> 4];
  wire += kHex[c & 15];
}

std::string EscapedAll(const QByteArray& text) {
  std::string wire;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEscape(byte)) {
      AppendEscaped(wire, byte);
    } else {
      wire += c;
    }
  }
  return wire;
}

// A host named in a folder may hold anything a file name can. A name in
// another script goes as its ASCII form; any byte left that a URL cannot
// hold is escaped, so the request fails as a bad host, not a bad URL.
std::string WireHost(const QByteArray& host) {
  const auto unsafe = [](const QByteArray& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return NeedsEscape(static_cast<unsigned char>(c)); });
  };
  if (!unsafe(host)) return host.toStdString();
  const QByteArray ace = QUrl::toAce(QString::fromUtf8(host));
  if (!ace.isEmpty() && !unsafe(ace)) return ace.toStdString();
  return EscapedAll(host);
}

}  // namespace

std::string WireUrl(const QString& url) {
  const QByteArray bytes = url.toUtf8();
  const qsizetype size = bytes.size();
  // The scheme and the host pass as they are when they can.
  qsizetype start = 0;
  const qsizetype scheme = bytes.indexOf("://");
  std::string wire;
  if (scheme >= 0) {
    start = bytes.indexOf('/', scheme + 3);
    if (start < 0) start = size;
    wire = EscapedAll(bytes.left(scheme)) + "://";
    wire += WireHost(bytes.mid(scheme + 3, start - scheme - 3));
  }
  bool afterByteEscape = false;
  for (qsizetype i = start; i < size; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '%' && i + 2 < size) {
      const int high = HexValue(bytes[i + 1]);
      const int low = HexValue(bytes[i + 2]);
      // "%5C" right after such a byte is the second half of a Shift-JIS
      // character (表 is %95%5C), escaped so it is not taken for a backslash.
      const bool shiftJisTail = afterByteEscape && high == 5 && low == 12;
      afterByteEscape = high >= 8 && low >= 0;
      if (afterByteEscape || shiftJisTail) {
        wire.append(bytes.constData() + i, 3);
        i += 2;
        continue;
      }
    }
    afterByteEscape = false;
    if (NeedsEscape(c)) {
      AppendEscaped(wire, c);
    } else {
      wire += char(c);
    }
  }
  return wire;
}

QString UrlFileNameOf(const QString& url) {
  QString text = url;
  text.replace(QLatin1Char('/'), QLatin1Char('\\'));
  const qsizetype cut = std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char(':')));
  return text.mid(cut + 1);
}

QByteArray TempDownloadName(const QByteArray& tempDir, const QDateTime& now, const QByteArray& targetName) {
  constexpr qsizetype kNameMax = 255;
  const QByteArray extension = ".jpg";
  const QByteArray prefix = FormatTempStamp(now).toUtf8() + '-';
  QByteArray stem = ChangeExtension(targetName, QByteArray());
  const qsizetype room = kNameMax - prefix.size() - extension.size();
  if (stem.size() > room) {
    const bool text = IsUtf8(stem);
    stem.truncate(room);
    // A UTF-8 name is cut between characters, never inside one.
    if (text) {
      qsizetype lead = stem.size() - 1;
      while (lead > 0 && (uchar(stem[lead]) & 0xC0) == 0x80) --lead;
      const uchar first = lead >= 0 ? uchar(stem[lead]) : 0;
      const qsizetype length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
      if (lead >= 0 && stem.size() - lead < length) stem.truncate(lead);
    }
  }
  return tempDir + prefix + stem + extension;
}

TransferResult TransferToFile(HttpRequest& request, OutputFile& file, const TransferSteps& steps) {
  TransferResult result;
  char block[kTransferBlock];
  const auto cancelled = [&steps] { return steps.cancelRequested && steps.cancelRequested->load(); };
  for (;;) {
    if (cancelled()) break;
    const long count = request.Read(block, sizeof block, steps.processMessages, cancelled);
    if (steps.processMessages) steps.processMessages();
    if (count < 0) {
      result.end = request.Error().tooLarge ? TransferEnd::TooLarge : TransferEnd::ReadFailed;
      result.error = request.Error().text;
      return result;
    }
    if (count > 0 && !file.Write(block, size_t(count))) {
      result.end = TransferEnd::WriteFailed;
      result.error = file.LastError();
      return result;
    }
    result.total += uint64_t(count);
    if (steps.showCount) steps.showCount(result.total);
    if (count == 0) break;
  }
  if (!file.Close()) {
    result.end = TransferEnd::WriteFailed;
    result.error = file.LastError();
  }
  return result;
}

}  // namespace yuragi
