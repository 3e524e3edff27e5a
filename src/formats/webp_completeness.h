#pragma once

#include "formats/byte_source.h"
#include "formats/picture_check.h"

namespace yuragi {

// Compares the RIFF size + 8 with the file's size: larger is cut, smaller
// trailing; walks the chunks inside the RIFF (a chunk reaching past it is
// damaged). Then libwebp decodes the still picture a block at a time
// (scaled down when large), for present when cut; an animation's frames
// (frames: ANMF chunks read in full) are decoded one by one through
// libwebpdemux, the first only unless a complete file is decoded.
PictureCheck CheckWebp(const ByteSource& source, const PictureCheckOptions& options = {});

}  // namespace yuragi
