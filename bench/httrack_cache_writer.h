#pragma once

#include <string>
#include <vector>

// An HTTrack cache as HTTrack writes it for files kept on disk: a
// hts-cache/new.zip of empty entries named by URL, whose local extra fields
// hold the header lines. True when it was written.
bool WriteHttrackCache(const std::string& mirrorFolder, const std::vector<std::string>& localPaths,
                       const std::string& urlPrefix);
