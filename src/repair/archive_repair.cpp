#include "repair/archive_repair.h"

#include "refetch/archive_client.h"
#include "repair/repair_verify.h"

namespace yuragi {

ArchiveRepair RepairFromArchive(ArchiveClient& client, const std::string& url, const std::string& local,
                                PictureFormat format) {
  ArchiveRepair repair;
  if (local.empty()) {
    // Without the cut file's bytes nothing proves a capture right.
    repair.detail = "archive: the file is empty";
    return repair;
  }
  const CaptureCheck check = [&local, format](const std::string& body, const std::string& contentType) -> std::string {
    const Verification verdict = VerifyFetched(local, body, contentType, false, format);
    if (verdict.verdict == Verdict::Good) return {};
    return verdict.detail.empty() ? "does not pass the checks" : verdict.detail;
  };
  ArchiveFind find = client.Find(url, local, check);
  repair.received = find.received;
  repair.cancelled = find.cancelled;
  if (find.found) {
    repair.found = true;
    repair.capture = find.capture;
    repair.body = std::move(find.body);
    repair.detail = "archive " + find.capture;
    return repair;
  }
  std::string why = find.cancelled ? "interrupted" : find.error;
  for (const std::string& skipped : find.skipped) why += (why.empty() ? "" : "; ") + skipped;
  repair.detail = "archive: " + (why.empty() ? std::string("no capture") : why);
  return repair;
}

}  // namespace yuragi
