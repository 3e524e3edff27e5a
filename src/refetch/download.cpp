#include "refetch/download.h"

#include <QUrl>

#include "platform/http_client.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/time_format.h"

namespace yuragi {

QString DownloadUrl(const QString& urlBoxText) {
  QString url = urlBoxText;
  if (url.endsWith(QLatin1Char('/'))) url.chop(1);
  return url;
}

std::string WireUrl(const QString& url) {
  return QUrl(url, QUrl::TolerantMode).toEncoded().toStdString();
}

QString UrlFileNameOf(const QString& url) {
  QString text = url;
  text.replace(QLatin1Char('/'), QLatin1Char('\\'));
  const qsizetype cut = std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char(':')));
  return text.mid(cut + 1);
}

QString TempDownloadName(const QString& tempDir, const QDateTime& now, const QString& targetName) {
  constexpr size_t kNameMax = 255;
  const QString extension = QStringLiteral(".jpg");
  const QString prefix = FormatTempStamp(now) + QLatin1Char('-');
  QString stem = ChangeExtension(targetName, QString());
  while (!stem.isEmpty() && NativePath(prefix + stem + extension).size() > kNameMax) {
    stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
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
