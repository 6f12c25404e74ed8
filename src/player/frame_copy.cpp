// Copying picture files into a content folder as numbered frames: the batch copy of the
// command line and the installation tool share this, so both number frames alike.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/limits.h"
#include "common/platform.h"
#include "player/player.h"

namespace orv {

FrameCopyResult CopyFramesToContent(std::vector<std::string> names, const std::string& folder,
                                    const FrameCopyLimits& limits) {
  FrameCopyResult result;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    // Every copy would fail for the same reason: say it once, with what helps.
    std::fprintf(stderr,
                 "ERROR: the content folder %s does not exist, so none of the %zu files was copied "
                 "(create it, or set up an installation with orvante-init).\n",
                 folder.c_str(), names.size());
    result.failed = static_cast<int>(names.size());
    return result;
  }
  // Byte order, unsigned (strcmp compares unsigned bytes); stable like the pairwise passes.
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
  int c = 0;
  for (size_t k = 0; k < names.size();) {
    char number[32];
    std::snprintf(number, sizeof number, "clip_%5d.jpg", c);
    const std::string to = folder + "/" + ZeroFill(number);
    if (FileReadable(to)) {  // existing clips are never overwritten
      ++c;
      continue;
    }
    const std::string& from = names[k];
    std::string command = "copy @" + from + "@ " + to;
    std::replace(command.begin(), command.end(), '@', '"');
    if ((limits.command && command.size() >= limits.command) || (limits.name && from.size() >= limits.name)) {
      std::fprintf(stderr, "SKIPPED: file name too long for the copy command (%zu bytes): %s\n", from.size(),
                   from.c_str());
      ++result.failed;
      ++k;
      continue;
    }
    std::printf("EXECUTING: %s\n", command.c_str());
    std::fflush(stdout);
    std::string err;
    if (CopyFile(from, to, &err)) {
      ++result.copied;
    } else {
      std::fprintf(stderr, "ERROR: copy of [%s] failed: %s\n", from.c_str(), err.c_str());
      ++result.failed;
    }
    ++c;  // a failed copy still uses up its number
    ++k;
  }
  return result;
}

int CountContentFrames(const std::string& folder) {
  // The names the folder scan finds: clip_ and five digits up to its last number.
  int n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() != 14 || name.rfind("clip_", 0) != 0 || name.substr(10) != ".jpg") continue;
    const std::string digits = name.substr(5, 5);
    if (digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) > kLastScannedNumber)
      continue;
    ++n;
  }
  return n < kMaxFrames ? n : kMaxFrames;
}

}  // namespace orv
