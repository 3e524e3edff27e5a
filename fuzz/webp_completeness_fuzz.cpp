// A WebP file's bytes: the completeness test the scan and the repair use.
#include "picture_check_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  yuragi::fuzzing::CheckBothWays(yuragi::PictureFormat::Webp, data, size);
  return 0;
}
