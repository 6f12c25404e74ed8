// Knowledge-base files 1..4, each alone (the other three valid) or all four together,
// read by the engine preparation and then used by the recognizer for a motion sequence.
//
// Input: byte 0 chooses the layout, the rest is the data.
//   0..3  file (byte0 + 1) is the data; the other files are a valid knowledge base
//   4     the four files, separated by kKbSep (missing parts: the file is absent)
//   5     file 2 at its full size: the data's start at its start, the data's last
//         1,152 bytes (RoiActive, SampleHigh) at its end, zeros between
#include "harness.h"
#include "app/gesture_playback.h"
#include "kb/kb.h"
#include "kb/learning_state.h"
#include "learning/learning.h"
#include "player/player_state.h"

namespace {

using namespace orvfuzz;

constexpr size_t kFile2Size = 9831776;

std::string Name(int n) { return "HOLVA_data-1-" + std::to_string(n) + ".dat"; }
std::string baseline[4];  // a small valid knowledge base, written by the player's own writer

void MakeBaseline() {
  ResetEngine();
  orv::learn.LearningPasses = 0;
  orv::learn.SampleCount[0] = 3;
  orv::learn.RateLimit[0] = 0.5;
  orv::learn.OK_VAR[0] = 5e6;
  if (!orv::EnsurePatternStore()) std::abort();
  for (int m = 0; m < orv::kViews; m += 3)
    for (int s = 0; s < 3; ++s) {
      for (int i = 0; i < 64; ++i) {
        orv::Patterns->Re[m][0][s][i] = 1.0 + 0.1 * i + s;
        orv::Patterns->Ps[m][0][s][i] = 10.0 / (1 + i) + m;
      }
      orv::PatternPresent[m][0][s] = 1;
      orv::learn.SampleHigh[m][0] = 3;
    }
  {
    QuietStdout quiet;
    orv::WriteKB(orv::player.ContentNumber);
  }
  for (int i = 0; i < 4; ++i) {
    std::FILE* f = std::fopen(Name(i + 1).c_str(), "rb");
    if (!f) std::abort();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) baseline[i].append(buf, n);
    std::fclose(f);
  }
}

// The camera frame the recognizer reads next: a bright square on a dark room.
void Frame(int n) {
  auto& buf = orv::player.GrayFrames[static_cast<size_t>(1 - (orv::player.GrayIndex & 1))];
  buf.fill(10);
  const int x0 = 40 + 8 * (n % 20), y0 = 60;
  for (int r = y0; r < y0 + 80; ++r)
    for (int c = x0; c < x0 + 80 && c < orv::kCamW; ++c) buf[static_cast<size_t>(r * orv::kCamW + c)] = 200;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  MakeBaseline();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int mode = data[0] % 6;
  const std::string_view in(reinterpret_cast<const char*>(data + 1), size - 1);
  for (int i = 0; i < 4; ++i) WriteBytes(Name(i + 1), baseline[i]);
  if (mode <= 3) {
    WriteBytes(Name(mode + 1), in);
  } else if (mode == 4) {
    std::string_view rest = in;
    bool have = true;
    for (int i = 0; i < 4; ++i) {
      if (!have) {
        std::remove(Name(i + 1).c_str());
        continue;
      }
      std::string_view part, after;
      have = SplitAt(rest, kKbSep, &part, &after);
      WriteBytes(Name(i + 1), part);
      rest = after;
    }
  } else {
    const size_t tail = std::min(in.size(), kKbFile2Tail);
    WriteSparse(Name(2), in.substr(0, in.size() - tail), kFile2Size - tail, in.substr(in.size() - tail));
  }

  ResetPlayer();
  ResetEngine();
  Guarded([] {
    if (orv::PrepareEngine(orv::player.ContentNumber)) orv::player.PlayerMode = 0;
    // A motion sequence, a still end and a second sequence: every loaded value the
    // recognizer touches is used, not only parsed.
    for (int n = 0; n < 14; ++n) {
      Frame(n < 12 ? n : 11);
      orv::RunEngineFrame(-1, orv::LatestGrayFrame());
    }
    if (orv::player.PlayerMode == 0) {
      orv::GestureStep();
      orv::GestureStatus();
    }
  });
  return 0;
}
