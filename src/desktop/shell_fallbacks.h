#pragma once

#include <memory>

#include "platform/desktop_shell.h"

namespace yuragi {

class Prompts;

// The desktop's shell, with our own program chooser and properties sheet
// where no portal or file manager answers; its boxes go through prompts.
std::unique_ptr<DesktopShell> MakeDesktopShell(Prompts& prompts, DesktopShellOptions options = {});

}  // namespace yuragi
