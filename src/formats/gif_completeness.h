#pragma once

#include "formats/byte_source.h"
#include "formats/picture_check.h"

namespace yuragi {

// Walks the blocks (screen descriptor, colour tables, extensions, images
// and their sub-blocks) up to the trailer byte 3B met where a block may
// start: cut when the data ends inside a block, or between blocks without
// the trailer (then atBlockBoundary, present 1.0: every frame is whole);
// trailing when bytes follow the trailer; damaged on an unknown block.
// Then giflib decodes the first frame's rows and those of the last frame
// read (all frames when a complete file is decoded), under the limits.
PictureCheck CheckGif(const ByteSource& source, const PictureCheckOptions& options = {});

}  // namespace yuragi
