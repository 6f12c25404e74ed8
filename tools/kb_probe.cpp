// Peak memory of a process that holds a full knowledge base.
//   orvante-kb-probe write DIR   writes a full knowledge base (51,200 pattern records) into DIR
//   orvante-kb-probe load DIR    sets the engine up as the main loop does, loads it, runs frames
//                                and prints the peak resident set size
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "kb/learning_state.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "learning/learning.h"
#include "recognition/recognition.h"
#include "kb/kb.h"

using namespace orv;

namespace {

long PeakKB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "load") != 0)) {
    std::fprintf(stderr, "usage: %s write|load DIR\n", argv[0]);
    return 2;
  }
  std::filesystem::create_directories(argv[2]);
  std::filesystem::current_path(argv[2]);
  if (std::strcmp(argv[1], "write") == 0) {
    FillFullKnowledgeBase(1);
    WriteKB(player.ContentNumber);
    return 0;
  }

  // The main loop's set-up touches the same tables.
  ResetRecognition();
  for (int g = 0; g < kGestures; ++g) InitGestureSlot(g);
  FillDirectionTables();
  BuildKernelTables();
  ResetEngineCaches();
  ResetGestureTables();
  ResetTemplates();
  if (PrepareEngine(player.ContentNumber)) player.PlayerMode = 0;
  const long loaded = PeakKB();

  // Frames with motion: a bright square moving across the camera picture.
  for (int n = 0; n < 60; ++n) {
    auto& cam = player.GrayFrames[1 - player.GrayIndex];
    cam.fill(10);
    for (int r = 60; r < 140; ++r)
      for (int c = 40 + 8 * (n % 20); c < 120 + 8 * (n % 20); ++c) cam[r * kCamW + c] = 200;
    RunEngineFrame(-1, LatestGrayFrame());
  }
  std::printf("\npatterns=%d peak_rss_after_load_kb=%ld peak_rss_after_frames_kb=%ld\n",
              [] {
                int n = 0;
                for (auto& v : PatternPresent)
                  for (auto& g : v)
                    for (int f : g) n += f;
                return n;
              }(),
              loaded, PeakKB());
  return 0;
}
