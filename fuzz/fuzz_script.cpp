// The script of a headless run (ORVANTE_SCRIPT): parsed, then played out by key waits as
// the main loop and the pause screen would.
#include "harness.h"

namespace {
using namespace orvfuzz;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::deque<orv::ScriptEvent> events;
  std::string err;
  if (!orv::ParseScript(std::string(reinterpret_cast<const char*>(data), size), &events, &err)) return 0;
  orv::display.hd.script = std::move(events);
  orv::display.hd.mouse.clear();
  for (orv::display.cycle = 0; orv::display.cycle < 50 && !orv::display.hd.script.empty(); ++orv::display.cycle)
    (void)orv::DisplayWaitKey(1);
  for (int i = 0; i < 8 && !orv::display.hd.script.empty(); ++i) (void)orv::DisplayWaitKey(0);
  orv::display.hd.script.clear();
  return 0;
}
