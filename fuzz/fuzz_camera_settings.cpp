// Camera settings file SetCamera3.txt: read at start-up and at every switch-on, then
// captures (flips) and motion values published under the camera number it names.
#include "harness.h"
#include "player/motion.h"
#include "player/player.h"
#include "player/player_state.h"

namespace {
using namespace orvfuzz;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  OpenPrivateSection();
  orv::UseScriptedCamera(MotionFrames(), true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteBytes("SetCamera3.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  ResetPlayer();
  Guarded([] {
    orv::ReadCameraSettings();
    orv::TurnCameraOn();
    for (int i = 0; i < 4; ++i) {
      orv::ZAV_Capture();
      orv::MeasureMotion();
      orv::CopySharedIn();
    }
  });
  if (orv::player.CameraOn) orv::TurnCameraOff();
  orv::MeasureMotion();
  return 0;
}
