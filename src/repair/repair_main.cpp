// yuragimaru-repair: finds the cut pictures of a saved site, fetches them
// again, checks them and replaces them, in one command.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/version_text.h"
#include "detect/folder_scan.h"
#include "platform/file_info.h"
#include "platform/path_kind.h"
#include "platform/paths.h"
#include "repair/repair_run.h"

using namespace yuragi;

namespace {

std::atomic<int> interrupts{0};
std::atomic<bool> stopWalk{false};

void OnInterrupt(int) {
  interrupts.fetch_add(1);
  stopWalk.store(true);
}

constexpr char kHelp[] =
    "Usage: yuragimaru-repair [options] FOLDER...\n"
    "\n"
    "Finds the cut-off pictures below each FOLDER as a detection run of\n"
    "yuragimaru does, fetches each again from its source URL, checks\n"
    "what came and replaces the cut file with it. Listed files that are not cut\n"
    "(data after the end marker, or damaged) are reported as complete or\n"
    "damaged and neither fetched nor changed. The source URL is the one\n"
    "the file or its mirror recorded (user.xdg.origin.url, HTTrack's cache,\n"
    "the Windows download mark), else the folder rule's; the latter is tried\n"
    "too when the recorded one answers with an HTTP error. A JPEG shorter than\n"
    "the size HTTrack recorded counts as cut even when it ends in FF D9.\n"
    "\n"
    "  --jobs N               transfers at once (default 8, at most 64)\n"
    "  --per-host N           of them to one host (default 2)\n"
    "  --include-undecodable  also the .jpg/.jpeg files without the end marker\n"
    "                         that do not decode at all (cut inside the header)\n"
    "  --formats LIST         the formats looked for, comma-separated: jpeg (the\n"
    "                         default), png, gif, webp or all, found as\n"
    "                         yuragimaru-scan --formats finds them; a fetched\n"
    "                         PNG, GIF or WebP is checked by its own format's\n"
    "                         test (complete chunks or blocks, every row\n"
    "                         decoded by libpng, giflib or libwebp)\n"
    "  --all-listed           fetch every listed file, the complete and damaged\n"
    "                         ones too\n"
    "  --accept-changed       replace a file even when the server now has another\n"
    "                         picture under its URL\n"
    "  --backup-dir DIR       keep each cut original under DIR, at its path below\n"
    "                         the name of the FOLDER it was found in (FOLDER taken\n"
    "                         as resolved; choose a DIR outside the FOLDERs, or a\n"
    "                         later run finds the copies)\n"
    "  --close-unfetchable    where the server answers 404 or 410, append the end\n"
    "                         marker FF D9 to the cut file instead, after checking\n"
    "                         that it then shows the same picture; the missing part\n"
    "                         stays grey and no byte of the file is lost\n"
    "  --archive PREFIX       where the origin fails, look for the file in the web\n"
    "                         archive at PREFIX, such as\n"
    "                         https://web.archive.org/web/ (see \"Archive\" below);\n"
    "                         without it nothing is sent to any archive\n"
    "  --archive-rate N       requests a second to the archive at most (default 1)\n"
    "  --dry-run              list what would be fetched; nothing is fetched\n"
    "  --json                 one JSON object per line instead of TAB-separated\n"
    "  --connect-timeout S    seconds to connect (default 30)\n"
    "  --stall-timeout S      seconds without data before a transfer is given up\n"
    "                         (default 60)\n"
    "  --min-speed N          give a transfer up when it brings fewer than N bytes\n"
    "                         a second on average over a window (default 1024;\n"
    "                         0 never), or runs longer than that speed allows for\n"
    "                         its size\n"
    "  --speed-window S       seconds of that window (default 60)\n"
    "  --retries N            extra tries per file (default 2), see below\n"
    "  --help                 this text\n"
    "  --version              the version\n"
    "\n"
    "Fetching: requests carry the agent \"Quistrelle\" and no-cache headers,\n"
    "follow up to 10 redirects over http and https only (a redirect to any other\n"
    "scheme, file:// among them, is refused), and use the proxies of http_proxy,\n"
    "https_proxy and no_proxy. Where the cut file is larger than 4 KB, only its\n"
    "missing tail is asked for with a Range request starting 4 KB before its\n"
    "end; the answer is used only when those 4 KB equal the file's last bytes,\n"
    "otherwise the whole file is fetched. A transfer that breaks or times out, a\n"
    "429 and a 503 are tried again after 1 s, 2 s, ... or after the server's\n"
    "Retry-After when that is at most 120 s. An answer of 400 or more is\n"
    "reported from its status line and header; its body is not read. Bodies\n"
    "go to a private temporary file, not to memory. HTTPS certificates are\n"
    "checked against the system's authorities; a certificate that fails is\n"
    "reported, never skipped.\n"
    "\n"
    "Checks: the new file must start with every byte of the cut file and decode\n"
    "cleanly: no decoder warning of any kind, the end marker where the data ends\n"
    "(or only bytes the cut file already had after it); otherwise it is corrupt\n"
    "(with the decoder's first warning) or incomplete. Another picture under\n"
    "the same URL is reported as changed and left alone; an HTML page, an empty\n"
    "body, an error status, the file's very bytes (same) or a shorter file\n"
    "likewise.\n"
    "\n"
    "Archive: with --archive, a file whose origin answers 400 or more, cannot be\n"
    "reached or sends a body that fails the checks is looked up afterwards in\n"
    "the archive's TimeMap (PREFIX \"timemap/link/\" URL, RFC 7089). Its captures\n"
    "are tried newest first in their raw form (PREFIX TIME \"id_/\" URL), at most\n"
    "6 per file, and the first that passes the checks above replaces the file;\n"
    "a capture that stops matching the cut file's bytes is dropped at once.\n"
    "Requests carry the agent \"Quistrelle (+mailto:ADDRESS)\" and wait for a\n"
    "429's Retry-After. The archive learns the URL of every such file. The\n"
    "report says \"repaired\" with detail \"archive TIME\" (JSON: \"source\":\n"
    "\"archive\", \"capture\": TIME), or why each capture was passed over.\n"
    "\n"
    "Saving: the file is replaced in one rename (the old file is never lost) and\n"
    "takes the time of the server's Last-Modified, else keeps its old time (also\n"
    "when that time lies in the future or the file system cannot hold it; the\n"
    "detail says so). Before the rename the path is walked again from FOLDER\n"
    "without following any link that was not there when the file was read: each\n"
    "name must lead to the same folder or file, and the file must still hold\n"
    "the very bytes that were checked. Otherwise nothing is written and the file\n"
    "is reported as save-failed, \"the file changed on disk meanwhile\".\n"
    "\n"
    "Output, one line per file as it ends:\n"
    "  path TAB URL TAB outcome TAB bytes fetched TAB detail\n"
    "  --json gives the keys path, url, url_source, outcome, bytes, resumed,\n"
    "  saved, detail, source (\"origin\" or \"archive\") and for an archive copy\n"
    "  capture.\n"
    "  Outcomes: repaired, replaced-changed, closed, would-fetch, http-error,\n"
    "  html, empty, not-jpeg, same, smaller, changed, incomplete, corrupt,\n"
    "  transfer-failed, too-large, too-slow, save-failed, unreadable,\n"
    "  interrupted, not-started; complete and damaged for listed files that\n"
    "  are not cut.\n"
    "A folder that cannot be entered is named on standard error (with --json\n"
    "also as a line with the outcome cannot-enter) and counted in the summary.\n"
    "Standard error shows live progress while it is a terminal and at the end a\n"
    "summary (for example \"812 件中 790 件を修復しました（開けないフォルダ 1）\").\n"
    "\n"
    "Ctrl-C starts no new transfers and lets the running ones finish; a second\n"
    "Ctrl-C abandons them. Every file is then either as it was or fully\n"
    "repaired, and the report is still written.\n"
    "\n"
    "FOLDER is made absolute against the working folder, with \"./\" and \"..\"\n"
    "resolved, before it is walked, as yuragimaru-scan does for its URLs.\n"
    "\n"
    "Exit status: 0 every cut file found was repaired (or none was found) and\n"
    "every folder could be entered, 1 something is left, 2 usage error or a\n"
    "FOLDER that is not a folder.\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "yuragimaru-repair: %s\nTry 'yuragimaru-repair --help'.\n", message.c_str());
  return 2;
}

bool ParseCount(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

// The progress line on a terminal, rewritten at most ten times a second.
class ProgressLine {
 public:
  explicit ProgressLine(bool terminal) : terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

  void Show(const std::string& text) {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    shown_ = true;
  }

  void Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  RepairOptions options;
  bool json = false;
  bool includeUndecodable = false;
  FormatSet formats = kJpegOnly;
  std::vector<std::string> folders;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
      folders.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
      name = arg.substr(0, equals);
      inlineValue = arg.substr(equals + 1);
    }
    const auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const auto count = [&](long low, long high, long& out) {
      std::string text;
      if (!value(text)) return false;
      return ParseCount(text.c_str(), low, high, out);
    };
    long number = 0;
    const auto withValue = [&](auto&& apply, long low, long high) {
      if (!count(low, high, number)) return false;
      apply(number);
      return true;
    };
    const bool flag = !inlineValue;
    if (name == "--") {
      optionsDone = true;
    } else if ((name == "--help" || name == "-h") && flag) {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (name == "--version" && flag) {
      std::fputs(VersionText("yuragimaru-repair").c_str(), stdout);
      return 0;
    } else if (name == "--json" && flag) {
      json = true;
    } else if (name == "--dry-run" && flag) {
      options.dryRun = true;
    } else if (name == "--include-undecodable" && flag) {
      includeUndecodable = true;
    } else if (name == "--all-listed" && flag) {
      options.allListed = true;
    } else if (name == "--accept-changed" && flag) {
      options.fetch.acceptChanged = true;
    } else if (name == "--close-unfetchable" && flag) {
      options.closeUnfetchable = true;
    } else if (name == "--formats") {
      std::string list;
      std::string error;
      if (!value(list)) return Usage("--formats needs a list");
      const std::optional<FormatSet> set = ParseFormatList(list, &error);
      if (!set) return Usage(error);
      formats = *set;
    } else if (name == "--backup-dir") {
      if (!value(options.backupDir) || options.backupDir.empty()) return Usage("--backup-dir needs a folder");
    } else if (name == "--archive") {
      std::string prefix;
      if (!value(prefix) || prefix.find("://") == std::string::npos) return Usage("--archive needs a URL prefix");
      if (!prefix.ends_with('/')) prefix += '/';
      options.archive.prefix = prefix;
    } else if (name == "--archive-rate") {
      std::string text;
      char* end = nullptr;
      const double rate = value(text) ? std::strtod(text.c_str(), &end) : 0;
      if (!end || end == text.c_str() || *end != '\0' || !(rate >= 0.01 && rate <= 1000)) {
        return Usage("--archive-rate needs 0.01 to 1000 requests a second");
      }
      options.archive.requestsPerSecond = rate;
    } else if (name == "--jobs") {
      if (!withValue([&](long n) { options.fetch.jobs = int(n); }, 1, kMaxJobs)) {
        return Usage("--jobs needs 1 to " + std::to_string(kMaxJobs));
      }
    } else if (name == "--per-host") {
      if (!withValue([&](long n) { options.fetch.perHost = int(n); }, 1, 64)) return Usage("--per-host needs 1 to 64");
    } else if (name == "--connect-timeout") {
      if (!withValue([&](long n) { options.fetch.connectTimeout = n; }, 1, 3600)) {
        return Usage("--connect-timeout needs 1 to 3600 seconds");
      }
    } else if (name == "--stall-timeout") {
      if (!withValue([&](long n) { options.fetch.stallTimeout = n; }, 1, 3600)) {
        return Usage("--stall-timeout needs 1 to 3600 seconds");
      }
    } else if (name == "--min-speed") {
      if (!withValue([&](long n) { options.fetch.minSpeed = uint64_t(n); }, 0, 1L << 30)) {
        return Usage("--min-speed needs 0 to 1073741824 bytes a second");
      }
    } else if (name == "--speed-window") {
      if (!withValue([&](long n) { options.fetch.speedWindow = n; }, 1, 3600)) {
        return Usage("--speed-window needs 1 to 3600 seconds");
      }
    } else if (name == "--retries") {
      if (!withValue([&](long n) { options.fetch.retries = int(n); }, 0, 20)) return Usage("--retries needs 0 to 20");
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (folders.empty()) return Usage("no folder given");
  options.archive.stallSeconds = options.fetch.stallTimeout;
  for (const std::string& folder : folders) {
    if (!IsFolder(folder)) {
      const std::string kind = PathKindText(folder);
      std::fprintf(stderr, "yuragimaru-repair: %s: %s: %s\n", folder.c_str(), kind.c_str(),
                   kind.starts_with("a regular file") ? "give the folder it is in" : "only folders are walked");
      return 2;
    }
  }
  // Paths, URLs and backup names come from the folder as resolved, as the scan's do.
  const QByteArray working = WorkingFolder();
  for (std::string& folder : folders) folder = ResolvedPath(QByteArray::fromStdString(folder), working).toStdString();

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  ProgressLine line(::isatty(STDERR_FILENO) == 1);
  const FindResult found = FindCutFiles(folders, includeUndecodable, stopWalk, [&](int64_t rows, int64_t files) {
    line.Show(ProgressText(rows, files).toStdString());
  }, formats);
  const bool walkCut = stopWalk.load();

  RepairTotals totals;
  totals.visited = found.visited;
  totals.unreadableFolders = int64_t(found.unreadable.size());
  for (const UnreadableFolder& folder : found.unreadable) {
    line.Clear();
    std::fprintf(stderr, "yuragimaru-repair: %s: cannot enter: %s\n", folder.path.c_str(), std::strerror(folder.error));
    if (!json) continue;
    ReportEntry entry;
    entry.path = folder.path;
    entry.outcome = Outcome::CannotEnter;
    entry.detail = std::strerror(folder.error);
    const std::string text = RepairLine(entry, true);
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  std::fflush(stdout);
  RepairHooks hooks;
  hooks.interrupts = &interrupts;
  hooks.report = [&](const ReportEntry& entry) {
    line.Clear();
    const std::string text = RepairLine(entry, json);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  };
  int noted = 0;
  hooks.progress = [&](const FetchProgress& progress) {
    const int level = std::min(interrupts.load(), 2);
    if (level > noted) {
      noted = level;
      line.Clear();
      std::fputs(level == 1 ? "中断します: 実行中の転送の終わりを待っています（もう一度 Ctrl-C で打ち切ります）\n"
                            : "中断します: 実行中の転送を打ち切ります\n",
                 stderr);
      std::fflush(stderr);
    }
    line.Show(ProgressText(int64_t(progress.finished), int64_t(progress.total), progress.received, line.Seconds()));
  };
  std::string error;
  const bool ran = RepairFiles(found.files, options, hooks, totals, &error);
  line.Clear();
  if (!ran) std::fprintf(stderr, "yuragimaru-repair: %s\n", error.c_str());
  const std::string summary = SummaryText(totals);
  std::fputs(summary.c_str(), stderr);
  if (walkCut) std::fputs("中断しました: 探索は途中までです\n", stderr);
  const bool settled = ran && !walkCut && !totals.dryRun && totals.left == 0;
  const bool complete = totals.unreadableFolders == 0;
  return complete && (settled || (ran && !walkCut && totals.found == 0)) ? 0 : 1;
}
