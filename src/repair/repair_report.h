#pragma once

#include <cstdint>
#include <string>

namespace yuragi {

enum class Outcome {
  Repaired,        // replaced by the complete file
  ReplacedChanged, // replaced by another picture (--accept-changed)
  Closed,          // end marker appended (--close-unfetchable)
  WouldFetch,      // --dry-run
  HttpError,
  Html,
  Empty,
  NotJpeg,
  Same,            // the server has the file's very bytes
  Smaller,
  Changed,
  Incomplete,
  Corrupt,         // the body does not decode cleanly
  Complete,        // not cut (data after its end marker): not fetched
  Damaged,         // not cut but damaged: not fetched
  TransferFailed,
  TooLarge,
  TooSlow,         // below the minimum speed, or past its deadline
  SaveFailed,
  Unreadable,
  Interrupted,
  NotStarted,
  CannotEnter,     // a folder the walk could not enter (reported, not counted as a file)
};

// The word in the report: "repaired", "changed", "http-error", ...
const char* OutcomeWord(Outcome outcome);

// Whether the file no longer needs anything done.
bool IsSettled(Outcome outcome);

struct ReportEntry {
  std::string path;  // its bytes
  std::string url;
  std::string urlSource;  // "xattr", "httrack", "zone" or "folder"
  Outcome outcome = Outcome::NotStarted;
  uint64_t bytes = 0;  // fetched over the wire
  bool resumed = false;
  bool cut = true;     // the file as listed was cut (not only trailing or damaged)
  uint64_t saved = 0;  // not fetched thanks to Range
  std::string detail;  // status, reason
  std::string capture;  // the archive capture (YYYYMMDDhhmmss) it came from; empty: the origin
};

// path TAB url TAB outcome TAB bytes TAB detail, or one JSON object (with
// "source" "origin" or "archive", and then "capture"); with "\n".
std::string RepairLine(const ReportEntry& entry, bool json);

struct RepairTotals {
  int64_t found = 0;
  int64_t visited = 0;
  int64_t repaired = 0;  // Repaired and ReplacedChanged
  int64_t closed = 0;
  int64_t left = 0;
  int64_t notCut = 0;  // complete or damaged, so left alone
  uint64_t received = 0;
  uint64_t saved = 0;
  int64_t unreadableFolders = 0;
  bool dryRun = false;
};

void Count(RepairTotals& totals, const ReportEntry& entry);

// The closing lines on standard error, in the window's language:
// "812 件中 790 件を修復しました" and what was fetched.
std::string SummaryText(const RepairTotals& totals);

// "123 / 812 件  4,567,890 バイト  1.2 MB/s"
std::string ProgressText(int64_t done, int64_t total, uint64_t bytes, double seconds);

}  // namespace yuragi
