#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace yuragi {

class HttpRequest;
class OutputFile;

inline constexpr size_t kTransferBlock = 1024;

// The URL of the URL box as it goes to the network: one trailing "/" removed.
QString DownloadUrl(const QString& urlBoxText);

// The URL as the request sends it. Behind the host, what a URL cannot hold
// is percent-encoded: blanks, control characters, "<>\^`{|} and the quote,
// "#", "%" itself and every byte from 0x80 on (text as its UTF-8 bytes).
// "/", "?" and the query behind it are kept. A "%HH" escape of a byte from
// 0x80 on is kept as it stands (and a "%5C" right after it): that is how
// the URL text carries the bytes of a name that is not UTF-8. Pure; needs
// no window.
std::string WireUrl(const QString& url);

// The URL's file-name part: the text after its last "/", "\" or ":".
QString UrlFileNameOf(const QString& url);

// TempDir + "$yyyymmdd-hhnnsszzz-" + target name, extension made ".jpg".
// The target name is shortened so that the file name stays within the
// 255 bytes a file system allows.
QByteArray TempDownloadName(const QByteArray& tempDir, const QDateTime& now, const QByteArray& targetName);

struct TransferSteps {
  std::function<void()> processMessages;            // after every block
  std::function<void(uint64_t total)> showCount;    // after every block, the last (0-byte) one too
  const std::atomic<bool>* cancelRequested = nullptr;
};

// ReadFailed: the connection broke; TooLarge: the body outgrew the
// request's size cap; WriteFailed: the file refused the bytes (error says why).
enum class TransferEnd { Finished, ReadFailed, TooLarge, WriteFailed };

struct TransferResult {
  TransferEnd end = TransferEnd::Finished;
  uint64_t total = 0;
  std::string error;
};

// Reads the body in 1024-byte blocks into the file until the end, a
// cancel (which also counts as finished) or a failure.
TransferResult TransferToFile(HttpRequest& request, OutputFile& file, const TransferSteps& steps);

}  // namespace yuragi
