#include "app/version_text.h"

#include "app/build_info.h"
#include "app/product_info.h"

namespace yuragi {

std::string VersionText(const char* program) {
  return std::string(program) + " " + kProductVersionText + "\n" + CopyrightLine.toStdString() + "\n";
}

}  // namespace yuragi
