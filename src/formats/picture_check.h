#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "formats/picture_format.h"

namespace yuragi {

// How a picture's data ends, as its format's own structure says.
enum class PictureEnd {
  Complete,  // the closing chunk or byte is the last thing in the file
  Trailing,  // complete, and bytes follow it
  Cut,       // the data ends before the closing chunk or byte
  Damaged,   // the structure is broken before its end (bad CRC, unknown block, decoder error)
};

// Every test decodes under these, whatever a header claims.
struct PictureLimits {
  int64_t maxPixels = int64_t(16384) * 16384;  // one frame as the header announces it
  int64_t maxDecodedPixels = 100'000'000;      // rows decoded, all frames together
  uint64_t maxMemory = uint64_t(256) << 20;    // the library's own allocations
  int64_t maxBlocks = 100'000;                 // chunks (PNG, WebP) or blocks (GIF)
};

struct PictureCheckOptions {
  // A complete file is decoded too (a fetched body's verification); the
  // scan, which lists only incomplete files, leaves it out.
  bool decodeComplete = true;
  // Called between rows; false stops as a cut would (a cancelled walk).
  std::function<bool()> keepGoing;
  PictureLimits limits;
};

struct PictureCheck {
  PictureEnd end = PictureEnd::Cut;
  // The library read the header and at least one row (the first frame's).
  bool decodes = false;
  // Cut: share of the rows of the picture (GIF: of the frame being read)
  // that came from real data; empty where rows do not say it (interlaced).
  std::optional<double> present;
  uint64_t dataEnd = 0;        // where the format's own data ends
  uint64_t trailingBytes = 0;  // after it
  bool trailingZero = false;   // and every one of them is zero
  int width = 0;
  int height = 0;
  int frames = 0;               // GIF: frames read in full
  bool atBlockBoundary = false;  // GIF: cut between blocks, every frame whole
  bool rowsChecked = false;     // the library decoded the rows
  std::string warning;          // damaged: what is wrong
  std::string error;            // not decodable or refused: why
};

const char* PictureEndWord(PictureEnd end);  // "complete", "trailing", "cut", "damaged"

// For the format tests: notes whether the library decoded every row; false,
// the check then undecodable with the library's message (or "no row
// decodes") as its error, when it decoded not even one.
bool NoteRows(PictureCheck& check, bool allRows, const std::string& message);

// The test of format (PNG, GIF or WebP) over bytes in memory.
PictureCheck CheckPicture(PictureFormat format, const uint8_t* data, size_t size,
                          const PictureCheckOptions& options = {});
// The same over a file, read a block at a time with pread; the descriptor
// is left open. False (error set) when the file cannot be read.
bool CheckPictureFile(PictureFormat format, int fd, PictureCheck& check, const PictureCheckOptions& options = {});
bool CheckPictureFile(PictureFormat format, const std::string& path, PictureCheck& check,
                      const PictureCheckOptions& options = {});

}  // namespace yuragi
