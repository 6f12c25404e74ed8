// Threshold file ZAV_THRESHOLD.dat: read by every command step, changed by v and V, and
// compared with the motion by every stepping rule.
#include "harness.h"
#include "control/control.h"
#include "player/player.h"
#include "player/player_state.h"

namespace {
using namespace orvfuzz;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteBytes("ZAV_THRESHOLD.dat", std::string_view(reinterpret_cast<const char*>(data), size));
  ResetPlayer();
  orv::player.MaxCount = 3;
  orv::player.VR_step = 1.0;
  orv::player.KeyFrameMode = 4;
  orv::player.IdleLimit = 2;
  orv::player.KeyFrameNumber[5] = 2.0;
  static const int kMotion[] = {0, 1, 11500, 2000000000, -5, 48000};
  Guarded([] {
    for (int state = 1; state <= 5; ++state) {
      orv::DispatchKey(state % 2 ? 'v' : 'V');
      orv::DispatchKey(orv::kNoKey);
      orv::player.PlayState = state;
      for (int d : kMotion) {
        orv::player.DifferenceSum = d;
        orv::StepPlayer();
        if (orv::CurrentFrame() < 0) std::abort();  // every rule keeps frame_no on the content
      }
    }
  });
  return 0;
}
