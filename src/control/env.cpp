// Player parameter files: zav_envNNNN.dat / zav_env.dat and the content's ncx_config.dat.
#include <endian.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/app_state.h"
#include "common/control_state.h"
#include "common/limits.h"
#include "common/platform.h"
#include "common/player_state.h"
#include "control/control.h"

namespace orv {

namespace {

constexpr int kPivotEntries = 23000;
constexpr long kMaxContentNumber = 998;  // S999 is the last name the "%3d" field forms
constexpr long kMaxSampleStep = kCamW;   // larger steps sample the same single pixel

// Values come from a hand-edited file and later serve as divisors, positions and indices:
// a value outside its range is refused with a warning and the target keeps what it held.
struct EnvReader {
  std::FILE* f;
  const std::string& name;

  int Int(const char* item, int* target, long lo = INT_MIN, long hi = INT_MAX) {
    long v = 0;
    const int n = std::fscanf(f, "%ld", &v);
    if (n != 1) return n;
    if (v < lo || v > hi) {
      std::fprintf(stderr, "WARNING: %s: %s = %ld is outside %ld..%ld; it stays %d.\n", name.c_str(), item, v, lo,
                   hi, *target);
      return n;
    }
    *target = static_cast<int>(v);
    return n;
  }

  // Accepts lo <= v < hi.
  int Double(const char* item, double* target, double lo, double hi) {
    double v = 0.0;
    const int n = std::fscanf(f, "%lf", &v);
    if (n != 1) return n;
    if (!std::isfinite(v) || v < lo || v >= hi) {
      std::fprintf(stderr, "WARNING: %s: %s = %f is outside %.1f..%.1f; it stays %f.\n", name.c_str(), item, v, lo,
                   hi, *target);
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
  const double kFrames = static_cast<double>(kMaxFrames);
  r.Int("SampleStep", &control.SampleStep, 1, kMaxSampleStep);
  r.Int("ContentNumber", &player.ContentNumber, 0, kMaxContentNumber);
  r.Int("MaxCount", &player.MaxCount, 1, kMaxFrames);
  r.Double("frame_no", &player.frame_no, 0.0, kFrames);
  r.Int("VR_threshold", &control.VR_threshold);
  r.Int("Direction", &player.Direction);
  r.Double("VR_step", &player.VR_step, -kFrames, kFrames);
  r.Int("BurstFlip", &player.BurstFlip);
  r.Int("BurstReset", &player.BurstReset);
  r.Int("KeyFrameMode", &player.KeyFrameMode);
  r.Int("IdleCount", &player.IdleCount);
  r.Int("IdleLimit", &player.IdleLimit);
  r.Int("MonitorMode", &control.MonitorMode);
  r.Int("PreviewMode", &app.PreviewMode);
  r.Int("WrapFlag", &player.WrapFlag);
  r.Int("PlayState", &player.PlayState);
  r.Int("KeyFrameIndex", &player.KeyFrameIndex, 0, kKeyFrames - 1);
  for (int i = 0; i < kKeyFrames; ++i) {
    char item[40];
    std::snprintf(item, sizeof item, "KeyFrameNumber[ %d ]", i);
    // Zero and below mean an empty key frame; any finite value within the frame range is kept.
    r.Double(item, &player.KeyFrameNumber[static_cast<size_t>(i)], -kFrames, kFrames);
  }

  int n = r.Int("StartFrameNum", &app.StartFrameNum, 0, kMaxFrames - 1);
  if (n != 1) {
    app.StartFrameNum = app.EndFrameNum = 0;
    app.MouseReverseFlag = app.MouseVertFlag = 0;
    app.flip_mode = 0;
    return;
  }
  std::printf("\nLOADING Additional Parameters...\n\n");
  std::printf("SET(%d): StartFrameNum = %d\n", n, app.StartFrameNum);
  n = r.Int("EndFrameNum", &app.EndFrameNum, 0, kMaxFrames - 1);
  std::printf("SET(%d): EndFrameNum   = %d\n", n, app.EndFrameNum);
  n = r.Int("MouseReverseFlag", &app.MouseReverseFlag);
  std::printf("SET(%d): MouseReverseFlag = %d\n", n, app.MouseReverseFlag);
  n = r.Int("MouseVertFlag", &app.MouseVertFlag);
  std::printf("SET(%d): MouseVertFlag    = %d\n", n, app.MouseVertFlag);
  n = r.Int("flip_mode", &app.flip_mode, 0, 2);
  std::printf("SET(%d): flip_mode = %d\n", n, app.flip_mode);
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
