#pragma once

#include <string>
#include <vector>

#include "repair/repair_run.h"

namespace yuragi {

class HttrackCaches;

// HTTrack knew each file's full size: the JPEGs of the mirrors at, above or
// below folder that are shorter than that were cut, even where the cut fell
// right behind an end marker. mirrorsBelow: the mirror folders the walk of
// folder met (ScanRun::mirrorFolders). Appended to files in path order.
void AddShortHttrackFiles(const std::string& folder, const std::vector<std::string>& mirrorsBelow,
                          HttrackCaches& caches, std::vector<RepairCandidate>& files);

}  // namespace yuragi
