#include "repair/repair_report.h"

#include <cstdio>

#include "detect/folder_scan.h"
#include "detect/scan_report.h"
#include "formats/number_format.h"

namespace yuragi {

namespace {

std::string Number(uint64_t value) { return FormatNumber(int64_t(value)).toStdString(); }

std::string Source(const ReportEntry& entry) {
  if (entry.capture.empty()) return ",\"source\":\"origin\"";
  return ",\"source\":\"archive\",\"capture\":" + JsonString(entry.capture);
}

}  // namespace

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::Repaired: return "repaired";
    case Outcome::ReplacedChanged: return "replaced-changed";
    case Outcome::Closed: return "closed";
    case Outcome::WouldFetch: return "would-fetch";
    case Outcome::HttpError: return "http-error";
    case Outcome::Html: return "html";
    case Outcome::Empty: return "empty";
    case Outcome::NotJpeg: return "not-jpeg";
    case Outcome::Same: return "same";
    case Outcome::Smaller: return "smaller";
    case Outcome::Changed: return "changed";
    case Outcome::Incomplete: return "incomplete";
    case Outcome::Corrupt: return "corrupt";
    case Outcome::Complete: return "complete";
    case Outcome::Damaged: return "damaged";
    case Outcome::TransferFailed: return "transfer-failed";
    case Outcome::TooLarge: return "too-large";
    case Outcome::TooSlow: return "too-slow";
    case Outcome::SaveFailed: return "save-failed";
    case Outcome::Unreadable: return "unreadable";
    case Outcome::Interrupted: return "interrupted";
    case Outcome::NotStarted: return "not-started";
    case Outcome::CannotEnter: return "cannot-enter";
  }
  return "unknown";
}

bool IsSettled(Outcome outcome) {
  return outcome == Outcome::Repaired || outcome == Outcome::ReplacedChanged || outcome == Outcome::Closed;
}

std::string RepairLine(const ReportEntry& entry, bool json) {
  const std::string bytes = std::to_string(entry.bytes);
  if (!json) {
    std::string detail = entry.detail;
    for (char& c : detail) {
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return TsvField(entry.path) + '\t' + TsvField(entry.url) + '\t' + OutcomeWord(entry.outcome) + '\t' + bytes +
           '\t' + detail + '\n';
  }
  return "{\"path\":" + JsonString(entry.path) + ",\"url\":" + JsonString(entry.url) +
         (entry.urlSource.empty() ? std::string() : ",\"url_source\":" + JsonString(entry.urlSource)) +
         ",\"outcome\":\"" +
         OutcomeWord(entry.outcome) + "\",\"bytes\":" + bytes + ",\"resumed\":" + (entry.resumed ? "true" : "false") +
         ",\"saved\":" + std::to_string(entry.saved) + ",\"detail\":" + JsonString(entry.detail) + Source(entry) + "}\n";
}

void Count(RepairTotals& totals, const ReportEntry& entry) {
  if (entry.outcome == Outcome::Repaired || entry.outcome == Outcome::ReplacedChanged) {
    ++totals.repaired;
  } else if (entry.outcome == Outcome::Closed) {
    ++totals.closed;
  } else if (entry.outcome == Outcome::Complete || entry.outcome == Outcome::Damaged ||
             (entry.outcome == Outcome::Same && !entry.cut)) {
    ++totals.notCut;  // nothing was missing: nothing is left to do
  } else {
    ++totals.left;
  }
  totals.received += entry.bytes;
  totals.saved += entry.saved;
}

std::string SummaryText(const RepairTotals& totals) {
  const std::string folders = UnreadableFoldersText(totals.unreadableFolders).toStdString();
  if (totals.found == 0) return FinalText(0, totals.visited).toStdString() + folders + "\n";
  if (totals.dryRun) {
    return Number(uint64_t(totals.found - totals.notCut)) + " 件を取得します（試行のみ）" + folders + "\n";
  }
  std::string text = Number(uint64_t(totals.found)) + " 件中 " + Number(uint64_t(totals.repaired)) + " 件を修復しました";
  if (totals.closed > 0) text += "、" + Number(uint64_t(totals.closed)) + " 件を現状のまま補修しました";
  if (totals.notCut > 0) text += "、" + Number(uint64_t(totals.notCut)) + " 件は切れていませんでした";
  text += folders;
  text += "\n受信 " + Number(totals.received) + " バイト";
  if (totals.saved > 0) text += "、範囲要求で " + Number(totals.saved) + " バイトを省きました";
  text += "\n";
  return text;
}

std::string ProgressText(int64_t done, int64_t total, uint64_t bytes, double seconds) {
  char rate[32];
  const double perSecond = seconds > 0 ? double(bytes) / seconds : 0;
  std::snprintf(rate, sizeof rate, "%.1f MB/s", perSecond / 1e6);
  return Number(uint64_t(done)) + " / " + Number(uint64_t(total)) + " 件  " + Number(bytes) + " バイト  " + rate;
}

}  // namespace yuragi
