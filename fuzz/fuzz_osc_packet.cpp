// OSC datagrams as the listener receives them: decoded, checked and written into the shared
// section. Every datagram is either taken or counted as bad; only the camera words and their
// sum are ever written, and values held from the network expire back to 0. Remote commands
// (a loopback sender may send them) queue only keys some command answers and thresholds of 0
// or more, never more than the queue holds.
//
// Input: the datagram as it arrives. Its size decides whether the local camera is on (odd
// sizes), so that datagrams for the camera's own channel (3) are tried both ways.
#include "control/osc_state.h"
#include "control/control.h"
#include "control/osc.h"
#include "harness.h"
#include "player/motion.h"
#include "player/player_state.h"

namespace {

using namespace orvfuzz;

void CheckSection(bool allZero) {
  orv::CopySharedIn();
  const auto& w = orv::player.SharedMirror;
  uint32_t sum = 0;
  for (int i = 1; i <= orv::kOscChannels; ++i) {
    const int32_t v = w[static_cast<size_t>(i)];
    if (v < 0 || v > orv::kOscMaxMotion || (allZero && v != 0)) std::abort();
    sum += static_cast<uint32_t>(v);
  }
  if (w[0] != static_cast<int32_t>(sum)) std::abort();
  for (int i = 1 + orv::kOscChannels; i < orv::kSharedWords; ++i)
    if (w[static_cast<size_t>(i)] != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  OpenPrivateSection();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetPlayer();
  orv::CloseOsc();
  orv::player.CamChan = 3;
  orv::player.CameraOn = static_cast<int>(size & 1);
  const int64_t t = 1000000;
  const bool taken = orv::TakeOscPacket(data, size, t);
  if (taken == (orv::osc.BadPackets != 0)) std::abort();
  orv::PublishRemoteMotion(t);
  CheckSection(false);
  orv::PublishRemoteMotion(t + orv::kOscExpiryUs + 1);
  CheckSection(true);
  if (orv::osc.QueueCount < 0 || orv::osc.QueueCount > orv::kOscQueueMax) std::abort();
  for (orv::OscCommand c; orv::TakeRemoteCommand(&c);)
    if (c.key == 0 ? c.threshold < 0 : !orv::IsCommandKey(c.key)) std::abort();
  return 0;
}
