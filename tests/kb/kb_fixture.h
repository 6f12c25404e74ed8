// Shared set-up of the engine tests: a temporary working folder, knowledge-base files
// written byte by byte, and camera frames with or without motion.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "kb/learning_state.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "../support/process.h"

namespace orvtest {

// Runs the test inside a fresh folder (each test is its own process).
struct InTempDir {
  TempDir dir;
  std::filesystem::path old = std::filesystem::current_path();
  InTempDir() { std::filesystem::current_path(dir.path); }
  ~InTempDir() { std::filesystem::current_path(old); }
};

inline std::string KBName(int n, int content = 1) {
  return "HOLVA_data-" + std::to_string(content) + "-" + std::to_string(n) + ".dat";
}

inline void Put(std::string& buf, const void* p, size_t n) { buf.append(static_cast<const char*>(p), n); }

inline orv::PatternRecord MakeRecord(int m, int g, int s, double value) {
  orv::PatternRecord r{};
  r.MODE = m, r.GESTURE = g, r.SAMPLE = s;
  for (int i = 0; i < 64; ++i) r.Re[i] = value + i, r.Ps[i] = value - i;
  return r;
}

// Stores a record in the pattern store directly (as learning would).
inline void StorePattern(int m, int g, int s, double value) {
  ASSERT_TRUE(orv::EnsurePatternStore());
  const orv::PatternRecord r = MakeRecord(m, g, s, value);
  std::memcpy(orv::Patterns->Re[m][g][s].data(), r.Re, sizeof r.Re);
  std::memcpy(orv::Patterns->Ps[m][g][s].data(), r.Ps, sizeof r.Ps);
  orv::PatternPresent[m][g][s] = 1;
}

inline int PresentCount() {
  int n = 0;
  for (auto& v : orv::PatternPresent)
    for (auto& g : v)
      for (int f : g) n += f;
  return n;
}

// The camera frame the engine reads next: a dark image with a bright square at (x, y).
inline void SetCameraFrame(int x, int y, int size = 80) {
  auto& buf = orv::player.GrayFrames[1 - (orv::player.GrayIndex & 1)];
  buf.fill(10);
  for (int r = y; r < y + size && r < orv::kCamH; ++r)
    for (int c = x; c < x + size && c < orv::kCamW; ++c) buf[r * orv::kCamW + c] = 200;
}

// Frame n of a motion: the square moves 8 camera pixels (2 engine pixels) per frame.
inline void MotionFrame(int n) { SetCameraFrame(40 + 8 * (n % 20), 60); }
inline void StillFrame() { SetCameraFrame(40, 60); }

}  // namespace orvtest
