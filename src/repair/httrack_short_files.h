#pragma once

#include <string>
#include <vector>

#include "repair/repair_run.h"

namespace yuragi {

class HttrackCaches;

// HTTrack knew each file's full size: the JPEGs of the mirrors at, above or
// below folder that are shorter than that were cut, even where the cut fell
// right behind an end marker. Appended to files in path order.
void AddShortHttrackFiles(const std::string& folder, HttrackCaches& caches, std::vector<RepairCandidate>& files);

}  // namespace yuragi
