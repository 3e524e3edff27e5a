// yuragimaru-scan: the detection walk without a window, for scripts.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/version_text.h"
#include "detect/folder_scan.h"
#include "detect/scan_report.h"
#include "platform/file_info.h"
#include "platform/path_kind.h"
#include "platform/paths.h"
#include "refetch/recorded_url.h"

using namespace yuragi;

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted.store(true); }

constexpr char kHelp[] =
    "Usage: yuragimaru-scan [--json] [--cut-only] [--jobs N] [--formats LIST]\n"
    "                       FOLDER|FILE...\n"
    "       yuragimaru-scan --url PATH...\n"
    "\n"
    "Walks each FOLDER as a detection run of yuragimaru does and lists every\n"
    ".jpg/.jpeg file whose last 18 bytes lack the JPEG end marker FF D9 but\n"
    "whose picture still decodes: a download that was cut short. A FILE is\n"
    "counted and tested as a file met in a folder.\n"
    "\n"
    "Output, one line per listed file in walk order:\n"
    "  path TAB size in bytes TAB modification time (YYYY-MM-DD HH:MM:SS, local)\n"
    "  TAB source URL\n"
    "  The path is printed as given plus the names found below it, with its\n"
    "  bytes as they are (names need not be UTF-8); in the path and the URL a\n"
    "  TAB, newline, carriage return and backslash are written as \\t, \\n,\n"
    "  \\r and \\\\, so every line is one record.\n"
    "  --json   one JSON object per line instead, with the keys path, size,\n"
    "           mtime (null when unreadable), url (the readable URL) and\n"
    "           request_url (the URL as it is requested, percent-encoded,\n"
    "           ready for curl), url_source (xattr, httrack, zone or folder),\n"
    "           folder_url (the folder rule's URL) and, when a record was\n"
    "           there but could not be used, url_note. A path that is not\n"
    "           UTF-8 shows U+FFFD in path and has its exact bytes in\n"
    "           path_base64.\n"
    "           Also state: cut, trailing (complete, with data after the end\n"
    "           marker) or damaged (complete length, corrupt data); present,\n"
    "           the share of rows from real data (cut; of the last scan read\n"
    "           for a progressive file, with scans, the complete scans);\n"
    "           trailing_bytes and trailing_zero (not cut); warning (damaged);\n"
    "           note, when the end could not be told (then state is cut).\n"
    "           format (jpeg, png, gif or webp, as the content's signature\n"
    "           says) and extension_mismatch (the name's extension stands for\n"
    "           another format). For PNG, GIF and WebP, present is given only\n"
    "           where rows say it (not for an interlaced PNG); a cut GIF has\n"
    "           frames (read in full) and trailer_missing: true when every\n"
    "           frame is whole and only the trailer byte is missing (present\n"
    "           is then 1.000: browsers show it whole); a cut animated WebP\n"
    "           has frames instead of present.\n"
    "  --cut-only  list only cut files\n"
    "  --jobs N decode the cut files found below a FOLDER on N threads while\n"
    "           the walk goes on (default: the number of cores); the output is\n"
    "           the same for every N\n"
    "  --formats LIST  the formats tested, comma-separated: jpeg (the\n"
    "           default), png, gif, webp, or all. With any but jpeg alone,\n"
    "           every file named .jpg, .jpeg, .png, .gif or .webp is tested as\n"
    "           the format its first bytes say (its name's when they say\n"
    "           none), if that format is in LIST. A PNG is cut when it ends\n"
    "           before a complete IEND chunk, a GIF before its trailer byte, a\n"
    "           WebP before its RIFF size + 8; trailing when bytes follow;\n"
    "           damaged on a bad chunk CRC, an unknown block or a decoder\n"
    "           error. It is listed when libpng, giflib or libwebp decodes its\n"
    "           header and at least one row.\n"
    "  --url    print the source URL of each PATH, one per line, as the\n"
    "           scan would\n"
    "  --help   this text\n"
    "  --version the version\n"
    "\n"
    "The URL is the one the file or its mirror recorded, first found of:\n"
    "the extended attribute user.xdg.origin.url (wget --xattr, curl --xattr,\n"
    "browsers), the HTTrack cache (hts-cache/new.zip, else new.txt) of the\n"
    "nearest folder above holding one, the Windows download mark\n"
    "(Zone.Identifier's HostUrl: attribute user.Zone.Identifier or\n"
    "user.DosStream.Zone.Identifier:$DATA, or a file NAME:Zone.Identifier).\n"
    "Else it is built from the absolute path: the first folder whose name\n"
    "holds a dot is the host; a relative path is taken from the working\n"
    "folder, with \"./\" and \"..\" resolved. Bytes of a name that are not\n"
    "UTF-8 appear in the URL as %HH.\n"
    "\n"
    "Standard error shows the count of listed and visited files, rewritten in\n"
    "place while it is a terminal, and at the end the result as the window's\n"
    "status bar shows it (for example \"2 / 5 検出しました\"). Ctrl-C stops\n"
    "the walk; what was found so far is still printed, followed by a line\n"
    "saying that the walk was interrupted. A folder that cannot be entered\n"
    "is named on standard error, and the walk goes on; the last line then\n"
    "counts them (\"（開けないフォルダ 2）\"). A path that is neither a\n"
    "folder nor a regular file (a pipe, a device, a socket, a link loop) is\n"
    "named with what it is.\n"
    "\n"
    "Exit status: 0 nothing listed, 1 at least one file listed,\n"
    "2 usage error or a path that is not a folder or a regular file, 130\n"
    "interrupted by Ctrl-C\n"
    "(the list is then incomplete).\n";

class ConsoleScan final : public ScanWindow {
 public:
  ConsoleScan(bool json, bool terminal, QByteArray workingFolder)
      : json_(json), terminal_(terminal), workingFolder_(std::move(workingFolder)) {
    clock_.start();
    flushClock_.start();
  }

  void AppendRow(DetectionRow row) override {
    if (cutOnly && row.stream.end != JpegEnd::Cut) return;
    ++rows_;
    const std::string line = ReportLine(row, json_, workingFolder_, records_);
    ClearProgress();
    std::fwrite(line.data(), 1, line.size(), stdout);
    FlushNowAndThen();
  }

  int64_t RowCount() const override { return rows_; }

  void SetStatusText(const QString& text) override {
    FlushNowAndThen();
    if (!terminal_ || clock_.elapsed() < 100) return;
    clock_.restart();
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
    progressShown_ = true;
  }

  void ProcessMessages() override { FlushNowAndThen(); }

  void ReportUnreadableFolder(const std::string& path, int error) override {
    ClearProgress();
    std::fprintf(stderr, "yuragimaru-scan: %s: cannot enter: %s\n", path.c_str(), std::strerror(error));
  }

  bool cutOnly = false;

  // Into a pipe or a file, lines go out at least every 50 ms rather than
  // one write each (a terminal gets each line as it ends anyway).
  void FlushNowAndThen() {
    if (flushClock_.elapsed() < 50) return;
    std::fflush(stdout);
    flushClock_.restart();
  }

  void ClearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
  }

 private:
  bool json_;
  bool terminal_;
  QByteArray workingFolder_;
  UrlRecords records_;
  bool progressShown_ = false;
  int64_t rows_ = 0;
  QElapsedTimer clock_;
  QElapsedTimer flushClock_;
};

int Usage(const char* message) {
  std::fprintf(stderr, "yuragimaru-scan: %s\nTry 'yuragimaru-scan --help'.\n", message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bool json = false;
  bool urls = false;
  bool cutOnly = false;
  FormatSet formats = kJpegOnly;
  int jobs = DefaultScanJobs();
  std::vector<std::string> operands;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options && std::strcmp(arg, "--") == 0) {
      options = false;
    } else if (options && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (options && std::strcmp(arg, "--version") == 0) {
      std::fputs(VersionText("yuragimaru-scan").c_str(), stdout);
      return 0;
    } else if (options && std::strcmp(arg, "--json") == 0) {
      json = true;
    } else if (options && std::strcmp(arg, "--cut-only") == 0) {
      cutOnly = true;
    } else if (options && (std::strcmp(arg, "--formats") == 0 || std::strncmp(arg, "--formats=", 10) == 0)) {
      const char* list = arg[9] == '=' ? arg + 10 : (i + 1 < argc ? argv[++i] : nullptr);
      if (!list) return Usage("--formats needs a list");
      std::string error;
      const std::optional<FormatSet> set = ParseFormatList(list, &error);
      if (!set) return Usage(error.c_str());
      formats = *set;
    } else if (options && std::strcmp(arg, "--jobs") == 0) {
      char* end = nullptr;
      const long n = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : 0;
      if (!end || *end != '\0' || n < 1 || n > 256) return Usage("--jobs takes a number from 1 to 256");
      jobs = int(n);
    } else if (options && std::strcmp(arg, "--url") == 0) {
      urls = true;
    } else if (options && arg[0] == '-' && arg[1] != '\0') {
      return Usage((std::string("unknown option ") + arg).c_str());
    } else {
      operands.emplace_back(arg);
    }
  }
  if (operands.empty()) return Usage(urls ? "no path given" : "no folder given");
  const QByteArray workingFolder = WorkingFolder();
  if (urls) {
    if (json) return Usage("--url and --json do not go together");
    UrlRecords records;
    for (const std::string& path : operands) {
      const QString url = records.Lookup(ResolvedPath(QByteArray::fromStdString(path), workingFolder)).url;
      std::printf("%s\n", TsvField(url.toUtf8().toStdString()).c_str());
    }
    return 0;
  }
  for (const std::string& operand : operands) {
    if (!IsFolder(operand) && !IsRegularFile(operand)) {
      std::fprintf(stderr, "yuragimaru-scan: %s: %s: only folders and regular files are walked\n", operand.c_str(),
                   PathKindText(operand).c_str());
      return 2;
    }
  }

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  ConsoleScan console(json, ::isatty(STDERR_FILENO) == 1, workingFolder);
  console.cutOnly = cutOnly;
  ScanRun run(interrupted);
  run.formats = formats;
  run.jobs = jobs;
  for (const std::string& operand : operands) {
    if (interrupted.load()) break;
    if (IsFolder(operand)) {
      ScanFolder(operand, run, console);
    } else {
      ScanFile(operand, run, console);
    }
  }
  console.ClearProgress();
  const QString final = FinalText(console.RowCount(), run.fileCount) + UnreadableFoldersText(run.unreadableFolders);
  std::fprintf(stderr, "%s\n", final.toLocal8Bit().constData());
  if (interrupted.load()) {
    // A script must be able to tell a partial list from a complete one.
    std::fputs("yuragimaru-scan: interrupted: the walk did not finish, the list is incomplete\n", stderr);
    return 130;
  }
  return console.RowCount() > 0 ? 1 : 0;
}
