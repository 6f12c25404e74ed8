// Player parameter file zav_env0001.dat and the content's key-frame file ncx_config.dat,
// read by LoadEnv; then player cycles with the camera on and a round of key commands.
//
// Input: the parameter file, optionally followed by kNcxSep and the key-frame file.
// A key-frame part starting with kFullPivotTable ('F') is placed at the start of a full 92,000-byte table
// (zeros behind it, then a count); any other key-frame part is the file as it is.
#include "harness.h"
#include "app/main_loop.h"
#include "control/control.h"
#include "player/player.h"
#include "player/player_state.h"

namespace {

using namespace orvfuzz;

constexpr size_t kPivotBytes = 92000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  OpenPrivateSection();
  orv::CheckContent();  // three frames of S001, found by the folder scan once
  orv::UseScriptedCamera(MotionFrames(), true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string_view env, ncx;
  const bool haveNcx = SplitAt(in, kNcxSep, &env, &ncx);
  WriteBytes("zav_env0001.dat", env);
  const fs::path ncxPath = StageRoot() / "S001" / "ncx_config.dat";
  if (!haveNcx)
    std::remove(ncxPath.c_str());
  else if (!ncx.empty() && ncx[0] == kFullPivotTable)
    WriteSparse(ncxPath, ncx.substr(1), kPivotBytes, "0");
  else
    WriteBytes(ncxPath, ncx);

  ResetPlayer();
  orv::player.MaxCount = 3;
  Guarded([] {
    orv::LoadEnv();
    // Camera on in the first cycle, then every command that reads what the file set.
    ScriptKeys("qxzjeZXhBHJvVil hxzq");
    for (int c = 0; c < 24; ++c)
      if (!orv::RunCycle()) break;
  });
  if (orv::player.CameraOn) orv::TurnCameraOff();
  orv::ReleaseFrameCache();
  return 0;
}
