#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "app/version_text.h"

namespace yuragi {
namespace {

constexpr char kHelp[] =
    "Usage: yuragimaru [FILE]\n"
    "\n"
    "Opens the window of ゆらぎ丸, which finds the JPEG files of a saved web\n"
    "site that an interrupted download left cut short, and fetches them again.\n"
    "FILE, when given, becomes the target of the 再取得 tab (this is how a file\n"
    "manager's \"open with\" hands over a picture). Only one window runs per\n"
    "program name: a second start brings the first one forward.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "Settings: yuragimaru.ini beside the program when its folder can be\n"
    "written, else $XDG_CONFIG_HOME/yuragimaru/yuragimaru.ini (~/.config/...).\n"
    "Manual: yuragimaru.html beside the program, else the installed copy in\n"
    "share/doc/yuragimaru/. See also yuragimaru-scan(1), yuragimaru-repair(1).\n";

}  // namespace

bool AnswerInformationOption(int argc, char** argv) {
  // Only the first argument: whatever follows a file name is not an option,
  // and "--" leaves a file named like an option to the window.
  if (argc < 2) return false;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kHelp, stdout);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::fputs(VersionText("yuragimaru").c_str(), stdout);
    return true;
  }
  return false;
}

}  // namespace yuragi
