// The frame index file, read by the content check and then shown: display steps, frame
// steps that print the frame's extra strings, image shifts and the flip mode.
//
// Input: byte 0 chooses the layout, the rest is the data.
//   0     frame_data0002.dat is the data as it is (a short file); content 2 is asked for,
//         so an unusable file falls back to content 1 (a valid index of three frames)
//   1..   frame_data0001.dat: the data's records part at the start of the 16,632,000-byte
//         block (zeros behind it), then the frame count text: the part after kCountSep, or "3"
#include "harness.h"
#include "control/control.h"
#include "player/display_step.h"
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
  if (size < 1) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data + 1), size - 1);
  ResetPlayer();
  if (data[0] == 0) {
    WriteBytes("frame_data0002.dat", in);
    WriteSparse("frame_data0001.dat", ThreeFrameRecords(), kIndexBlock, "3");
    orv::player.ContentNumber = 1;
  } else {
    std::remove("frame_data0002.dat");
    std::string_view records, count;
    if (!SplitAt(in, kCountSep, &records, &count)) count = "3";
    WriteSparse("frame_data0001.dat", records, kIndexBlock, count);
  }
  Guarded([] {
    orv::CheckContent();
    // Display steps over the content, with the frame-step and image commands between them.
    static const char kKeys[] = {'x', 'x', 'z', 'Z', 'X', 'e', 'x', 'j', 'e', 'l', 'z'};
    for (char k : kKeys) {
      ++orv::display.cycle;
      if (!orv::DisplayFrame()) break;
      orv::ScoreKeyFrames();
      orv::DispatchKey(static_cast<unsigned char>(k));
    }
  });
  orv::ReleaseFrameCache();
  return 0;
}
