// Content folders, the frame table and the one-image cache.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "common/display.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "player/frame_cache.h"
#include "common/tables.h"
#include "player/frame_decode.h"
#include "player/player.h"

namespace orv {

namespace {

constexpr long kIndexBlock = static_cast<long>(kMaxFrames) * static_cast<long>(sizeof(FrameRecord));

// Strings of an index file are foreign data: make sure each ends inside its field and
// uses this platform's separator (index files are often made on Windows).
bool SanitizeString(char (&s)[kNameSize]) {
  const bool terminated = std::memchr(s, '\0', kNameSize) != nullptr;
  s[kNameSize - 1] = '\0';
  for (char& c : s) {
    if (c == '\0') break;
    if (c == '\\') c = '/';
  }
  return terminated;
}

// Reads a frame index file; returns false when it does not open.
bool ReadFrameIndex(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return false;
  const size_t got = std::fread(FrameData.data(), 1, static_cast<size_t>(kIndexBlock), f);
  long count = 0;  // wider than the table, so that any written count is compared, never wrapped
  const bool haveCount = got == static_cast<size_t>(kIndexBlock) && std::fscanf(f, "%ld", &count) == 1;
  std::fclose(f);

  if (!haveCount) {
    std::fprintf(stderr, "WARNING: %s has %s; the content is treated as empty.\n", name.c_str(),
                 got == static_cast<size_t>(kIndexBlock) ? "no frame count after its record block"
                                                         : "fewer bytes than its record block");
    count = 0;
  } else if (count < 0) {
    std::fprintf(stderr, "WARNING: %s: frame count %ld is negative; the content is treated as empty.\n",
                 name.c_str(), count);
    count = 0;
  } else if (count > kMaxFrames) {
    std::fprintf(stderr, "WARNING: %s: frame count %ld is above %d; only the first %d frames are used.\n",
                 name.c_str(), count, kMaxFrames, kMaxFrames);
    count = kMaxFrames;
  }
  int unterminated = 0;
  for (auto& r : FrameData) {
    r.loaded = 0;
    unterminated += !SanitizeString(r.path) + !SanitizeString(r.http) + !SanitizeString(r.file);
  }
  if (unterminated)
    std::fprintf(stderr, "WARNING: %s: %d strings without an end mark were cut at %d bytes.\n", name.c_str(),
                 unterminated, kNameSize - 1);
  player.MaxCount = static_cast<int>(count);
  std::printf("\n* FINISHED READING FRAME DATA :  %s\n  (Number of files = [ %d ],  Name of the top file = [ %s ]) \n",
              name.c_str(), player.MaxCount, FrameData[0].path);
  return true;
}

void ScanFolder() {
  int misses = 0;
  for (int j = 0; j <= kLastScannedNumber && player.MaxCount < kMaxFrames; ++j) {
    const std::string path = ContentFramePath(player.ContentNumber, j);
    if (FileExists(path)) {
      FrameRecord& r = FrameData[static_cast<size_t>(player.MaxCount)];
      std::snprintf(r.path, sizeof r.path, "%s", path.c_str());
      ++player.MaxCount;
      misses = 0;
      if (player.MaxCount % 200 == 0)
        std::printf("\n [ %6d ]  MaxCount = [ %6d ]  ( %s )\n", j, player.MaxCount, path.c_str());
    } else if (++misses > kMaxFrames) {
      break;
    }
  }
}

std::string WorkingDirectory() {
  std::error_code ec;
  const auto cwd = std::filesystem::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

}  // namespace

std::string ContentFramePath(int contentNumber, int frame) {
  char buf[kNameSize + 16];
  std::snprintf(buf, sizeof buf, "%s/%c%3d/clip_%5d.jpg", "..", 'S', contentNumber + 1, frame);
  return ZeroFill(buf);
}

std::string FrameIndexFileName(int contentNumber) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "frame_data%4d.dat", contentNumber + 1);
  return ZeroFill(buf);
}

void ReleaseFrameCache() {
  for (auto& m : FrameImages)
    if (m.data) m.release();
  for (int i = 0; i < player.MaxCount; ++i) FrameData[static_cast<size_t>(i)].loaded = 0;
}

int CountLoadedFrames() {
  int n = 0;
  for (int i = 0; i < player.MaxCount; ++i) n += FrameData[static_cast<size_t>(i)].loaded == 1;
  return n;
}

int CurrentFrame() {
  const double x = player.frame_no;
  if (!(x >= 0.0 && x < static_cast<double>(player.MaxCount))) return -1;
  const int f = static_cast<int>(x);
  return f < kMaxFrames ? f : -1;
}

int ShownReduction() {
  return DecodeReduction(player.FullFrameSize, DisplayShownSize(kPlayerWindow, player.FullFrameSize));
}

bool EnsureFrameLoaded(int i) {
  if (i < 0 || i >= player.MaxCount) return false;
  FrameRecord& r = FrameData[static_cast<size_t>(i)];
  if (r.loaded && !FrameImages[static_cast<size_t>(i)].empty()) return true;
  if (r.path[0] == '\0') return false;
  const int reduction = ShownReduction();
  // The cache holds decodes of one size: a window that now shows another size starts it afresh.
  SetFrameCacheReduction(reduction);
  cv::Mat& img = FrameImages[static_cast<size_t>(i)];
  if (!TakeCachedFrame(i, &img)) {
    img = DecodeFrame(r.path, reduction);
    if (!img.empty()) KeepDecodedFrame(i, img);
  }
  if (img.empty()) {
    r.loaded = 0;
    return false;
  }
  player.FrameReduction = reduction;
  player.FullFrameSize = cv::Size(img.cols * reduction, img.rows * reduction);
  r.loaded = 1;
  return true;
}

void CheckContent() {
  player.GrayIndex = 0;
  player.frame_no = 0.0;
  player.KeyFrameNumber.fill(0.0);
  player.KeyFrameIndex = 0;
  player.DifferenceSum = 0;
  player.BurstCount = 0;
  player.Direction = 1;
  player.MotionCountOff = 1;
  player.FrameMotion.fill(0.0);
  player.RedrawMark = -1.0;
  ReleaseFrameCache();
  ClearFrameCache();  // frame numbers of the read-ahead name another content's frames now

  std::printf("\n*** START CHECKING IMAGE FILES. WAIT A MOMENT! ***\n");
  std::string searched;  // content folders tried, for the message when none has a frame
  for (;;) {
    ClearTable(FrameData);
    player.MaxCount = 0;
    if (player.ContentNumber >= 0) {
      const std::string first = ContentFramePath(player.ContentNumber, 0);
      searched += (searched.empty() ? "" : ", ") + first.substr(0, first.rfind('/'));
    }
    if (!ReadFrameIndex(FrameIndexFileName(player.ContentNumber))) ScanFolder();
    if (player.MaxCount != 0) {
      std::printf("\n*** Finished. Thank you for waiting! ***\n\n");
      return;
    }
    std::printf("---> Empty folder is specified!\n");
    if (player.ContentNumber > 0) {
      --player.ContentNumber;
    } else if (player.ContentNumber < 0) {
      player.ContentNumber = 0;
    } else {
      std::printf("---> ERROR: No image file exists! Bye!\n");
      std::fflush(stdout);
      // Say where the frames were looked for: a new installation usually has them one folder off.
      std::fprintf(stderr,
                   "ERROR: no frames (clip_00000.jpg, clip_00001.jpg, ...) in %s, seen from the working "
                   "directory %s; put them in ../S001 (the batch copy or orvante-init does it).\n",
                   searched.c_str(), WorkingDirectory().c_str());
      DisplayWaitKey(0);
      ShutdownCamera();
      EndProcess(player.SetUpFailureExit);
    }
  }
}

}  // namespace orv
