// Player parameter files: zav_envNNNN.dat / zav_env.dat and the content's ncx_config.dat.
#include <endian.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "control/control_state.h"
#include "common/limits.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "control/control.h"
#include "control/env_items.h"

namespace orv {

namespace {

constexpr int kPivotEntries = 23000;

// Values come from a hand-edited file and later serve as divisors, positions and indices:
// a value outside the bounds of its item (env_items.h) is refused with a warning and the
// target keeps what it held.
struct EnvReader {
  std::FILE* f;
  const std::string& name;

  int Int(int item, int* target) {
    long v = 0;
    const int n = std::fscanf(f, "%ld", &v);
    if (n != 1) return n;
    if (!EnvValueAccepted(item, static_cast<double>(v))) {
      const EnvItem& it = EnvItemInfo(item);
      const bool any = it.lo == 0.0 && it.hi == 0.0;
      std::fprintf(stderr, "WARNING: %s: %s = %ld is outside %ld..%ld; it stays %d.\n", name.c_str(), it.name, v,
                   any ? static_cast<long>(INT_MIN) : static_cast<long>(it.lo),
                   any ? static_cast<long>(INT_MAX) : static_cast<long>(it.hi), *target);
      return n;
    }
    *target = static_cast<int>(v);
    return n;
  }

  // Accepts lo <= v < hi.
  int Double(int item, const char* label, double* target) {
    double v = 0.0;
    const int n = std::fscanf(f, "%lf", &v);
    if (n != 1) return n;
    if (!EnvValueAccepted(item, v)) {
      const EnvItem& it = EnvItemInfo(item);
      std::fprintf(stderr, "WARNING: %s: %s = %f is outside %.1f..%.1f; it stays %f.\n", name.c_str(), label, v, it.lo,
                   it.hi, *target);
      return n;
    }
    *target = v;
    return n;
  }
};

std::string EnvFileName(int contentNumber) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "zav_env%4ld.dat", static_cast<long>(contentNumber) + 1);
  return ZeroFill(buf);
}

std::string KeyFrameFileName(int contentNumber) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s/%c%3ld/ncx_config.dat", "..", 'S', static_cast<long>(contentNumber) + 1);
  return ZeroFill(buf);
}

void ReadParameters(std::FILE* f, const std::string& name) {
  EnvReader r{f, name};
  r.Int(0, &player.SampleStep);
  r.Int(1, &player.ContentNumber);
  r.Int(2, &player.MaxCount);
  r.Double(3, "frame_no", &player.frame_no);
  r.Int(4, &player.VR_threshold);
  r.Int(5, &player.Direction);
  r.Double(6, "VR_step", &player.VR_step);
  r.Int(7, &player.BurstFlip);
  r.Int(8, &player.BurstReset);
  r.Int(9, &player.KeyFrameMode);
  r.Int(10, &player.IdleCount);
  r.Int(11, &player.IdleLimit);
  r.Int(12, &control.MonitorMode);
  r.Int(13, &player.PreviewMode);
  r.Int(14, &player.WrapFlag);
  r.Int(15, &player.PlayState);
  r.Int(16, &player.KeyFrameIndex);
  for (int i = 0; i < kKeyFrames; ++i) {
    char item[40];
    std::snprintf(item, sizeof item, "KeyFrameNumber[ %d ]", i);
    // Zero and below mean an empty key frame; any finite value within the frame range is kept.
    r.Double(kEnvFirstKeyFrame + i, item, &player.KeyFrameNumber[static_cast<size_t>(i)]);
  }

  int n = r.Int(kEnvFirstExtra, &player.StartFrameNum);
  if (n != 1) {
    player.StartFrameNum = player.EndFrameNum = 0;
    control.MouseReverseFlag = control.MouseVertFlag = 0;
    player.flip_mode = 0;
    return;
  }
  std::printf("\nLOADING Additional Parameters...\n\n");
  std::printf("SET(%d): StartFrameNum = %d\n", n, player.StartFrameNum);
  n = r.Int(kEnvFirstExtra + 1, &player.EndFrameNum);
  std::printf("SET(%d): EndFrameNum   = %d\n", n, player.EndFrameNum);
  n = r.Int(kEnvFirstExtra + 2, &control.MouseReverseFlag);
  std::printf("SET(%d): MouseReverseFlag = %d\n", n, control.MouseReverseFlag);
  n = r.Int(kEnvFirstExtra + 3, &control.MouseVertFlag);
  std::printf("SET(%d): MouseVertFlag    = %d\n", n, control.MouseVertFlag);
  n = r.Int(kEnvFirstExtra + 4, &player.flip_mode);
  std::printf("SET(%d): flip_mode = %d\n", n, player.flip_mode);
}

void ImportKeyFrames() {
  const std::string path = KeyFrameFileName(player.ContentNumber);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  std::printf("\nFound a file [ ncx_config.dat ] in the Contents Folder...\n");
  std::printf("\nNow, Importing [ %s ]\n", path.c_str());
  const size_t got = std::fread(PivotHistory.data(), sizeof(int32_t), PivotHistory.size(), f);
  int trailing = 0;
  if (got == PivotHistory.size() && std::fscanf(f, "%d", &trailing) != 1) trailing = 0;
  std::fclose(f);
  // A cut-off file must not leave the previous import's entries behind its end.
  if (got < PivotHistory.size()) {
    std::fprintf(stderr, "WARNING: %s holds %zu of %d entries; the missing ones are empty.\n", path.c_str(), got,
                 kPivotEntries);
    for (size_t i = got; i < PivotHistory.size(); ++i) PivotHistory[i] = 0;
  }
  for (auto& v : PivotHistory) v = static_cast<int32_t>(le32toh(static_cast<uint32_t>(v)));

  std::printf("\n");
  for (int i = 0; i <= 10; ++i) std::printf("PivotHistory[ %6d ] = [ %6d ]\n", i, PivotHistory[static_cast<size_t>(i)]);
  std::printf("\n");
  for (int i = 0; i < kKeyFrames; ++i) {
    int32_t v = PivotHistory[static_cast<size_t>(i)];
    if (v >= kMaxFrames) {
      std::fprintf(stderr, "WARNING: %s: entry %d = %d is beyond the last frame %d; the key frame is empty.\n",
                   path.c_str(), i, v, kMaxFrames - 1);
      v = 0;
    }
    player.KeyFrameNumber[static_cast<size_t>(i)] = static_cast<double>(v);
    if (v > 0) std::printf("SET: KeyFrameNumber[ %d ] = %f.\n", i, static_cast<double>(v));
  }
  std::printf("\nThat is all.\n");
  std::printf("Finished Importing [ %s ]\n", path.c_str());
}

}  // namespace

void LoadEnv() {
  std::string name = EnvFileName(player.ContentNumber);
  std::FILE* f = std::fopen(name.c_str(), "r");
  if (!f) {
    name = "zav_env.dat";
    f = std::fopen(name.c_str(), "r");
  }
  if (f) {
    ReadParameters(f, name);
    std::fclose(f);
    std::printf("Finished Reading ZAV Parameters from File : %s\n", name.c_str());
    control.EnvFile = name;
  }
  ImportKeyFrames();
}

}  // namespace orv
