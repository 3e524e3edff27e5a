#pragma once

namespace yuragi {

// Answers --help and --version of the window program before any window or
// display is needed. Returns true when the program should end right away.
bool AnswerInformationOption(int argc, char** argv);

}  // namespace yuragi
