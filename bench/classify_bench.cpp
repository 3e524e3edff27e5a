// What telling cut, trailing and damaged files apart costs the walk: the
// thumbnail decode of every listed file of scan_bench's trees, with and
// without the classification. Prints medians and the ratio; see README.md.

#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "detect/folder_scan.h"
#include "jpeg_writer.h"
#include "median_time.h"
#include "formats/jpeg_decoder.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

struct Pass {
  double seconds = 0;
  int decoded = 0;
  int cut = 0;
};

Pass Thumbnails(const std::vector<std::string>& paths, bool classify) {
  Pass pass;
  const double start = CpuSeconds();
  for (const std::string& path : paths) {
    JpegCheck check;
    if (!MakeThumbnail(path, kThumbnailSize, kThumbnailSize, nullptr, nullptr, classify ? &check : nullptr)) continue;
    ++pass.decoded;
    pass.cut += classify && check.end == JpegEnd::Cut ? 1 : 0;
  }
  pass.seconds = CpuSeconds() - start;
  return pass;
}

// Median CPU times of alternating passes; false when a pass did not do its work.
bool Measure(const char* name, const std::vector<std::string>& paths) {
  std::vector<double> plain, classified;
  for (int round = 0; round < 9; ++round) {
    const Pass a = Thumbnails(paths, false);
    const Pass b = Thumbnails(paths, true);
    if (a.decoded != int(paths.size()) || b.decoded != int(paths.size()) || b.cut != int(paths.size())) {
      std::fprintf(stderr, "%s: %d / %d decoded, %d classified cut of %zu\n", name, a.decoded, b.decoded, b.cut,
                   paths.size());
      return false;
    }
    plain.push_back(a.seconds);
    classified.push_back(b.seconds);
  }
  std::sort(plain.begin(), plain.end());
  std::sort(classified.begin(), classified.end());
  const double a = plain[plain.size() / 2];
  const double b = classified[classified.size() / 2];
  std::printf("%s (%zu files): thumbnails %.3f s CPU, with the classification %.3f s, ratio %.3f (target <= 1.05)\n",
              name, paths.size(), a, b, b / a);
  return true;
}

}  // namespace

int main() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) > 0) std::printf("load average at start: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  QTemporaryDir work;
  if (!work.isValid()) return 1;

  // scan_bench's 2 %-cut tree lists 320 of its 16,000 JPEGs: 400 x 300
  // pictures padded to 20-300 KB, cut 3,000 bytes before their end.
  std::vector<std::string> treeFiles;
  std::vector<std::vector<uint8_t>> jpegs;
  for (int i = 0; i < 8; ++i) {
    jpegs.push_back(Padded(EncodeJpeg({400, 300, JpegKind::Baseline, 90, uint32_t(i + 1)}), size_t(20 + i * 40) * 1024));
  }
  for (int i = 0; i < 320; ++i) {
    const std::vector<uint8_t>& bytes = jpegs[size_t(i) % jpegs.size()];
    treeFiles.push_back(work.filePath(QStringLiteral("t%1.jpg").arg(i)).toStdString());
    WriteFile(treeFiles.back(), Truncated(bytes, bytes.size() - 3000));
  }
  // Its all-cut tree: 3,000 320 x 240 pictures cut at two thirds.
  std::vector<std::string> cutFiles;
  const std::vector<uint8_t> picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 5});
  const std::vector<uint8_t> cut = Truncated(picture, picture.size() * 2 / 3);
  for (int i = 0; i < 3000; ++i) {
    cutFiles.push_back(work.filePath(QStringLiteral("c%1.jpg").arg(i)).toStdString());
    WriteFile(cutFiles.back(), cut);
  }
  // Not a scan_bench tree: photographs, where the careful decode of the
  // picture data weighs most.
  std::vector<std::string> photoFiles;
  const std::vector<uint8_t> photo = EncodeJpeg({4000, 3000, JpegKind::Baseline, 90, 7, 12});
  for (int i = 0; i < 8; ++i) {
    photoFiles.push_back(work.filePath(QStringLiteral("p%1.jpg").arg(i)).toStdString());
    WriteFile(photoFiles.back(), Truncated(photo, photo.size() * 9 / 10));
  }
  const bool ok = Measure("2 %-cut tree, listed files", treeFiles) && Measure("all-cut tree", cutFiles) &&
                  Measure("12-megapixel photographs cut at 90 %", photoFiles);
  return ok ? 0 : 1;
}
