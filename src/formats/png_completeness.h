#pragma once

#include "formats/byte_source.h"
#include "formats/picture_check.h"

namespace yuragi {

// Walks the chunks (length, type, CRC) up to a complete IEND: cut when the
// data ends first, trailing when bytes follow it, damaged on a bad CRC or
// length. Then libpng decodes the rows (cut: as far as the data goes, for
// present). More chunks than the limit are refused (decodes false).
PictureCheck CheckPng(const ByteSource& source, const PictureCheckOptions& options = {});

}  // namespace yuragi
