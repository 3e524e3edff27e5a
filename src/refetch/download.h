#pragma once

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

// The URL as bytes on the wire: blanks and other characters a URL cannot
// hold are percent-encoded, escapes already there are kept.
std::string WireUrl(const QString& url);

// The URL's file-name part: the text after its last "/", "\" or ":".
QString UrlFileNameOf(const QString& url);

// TempDir + "$yyyymmdd-hhnnsszzz-" + target name, extension made ".jpg".
// The target name is shortened so that the file name stays within the
// 255 bytes a file system allows.
QString TempDownloadName(const QString& tempDir, const QDateTime& now, const QString& targetName);

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
