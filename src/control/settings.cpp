// Camera settings file: read at start-up and at every switch-on, so it can be edited live.
#include <cstdio>

#include "common/control_state.h"
#include "control/control.h"

namespace orv {

namespace {

constexpr int kOnMemoryLimit = 5400;

// A number that is missing or not a number keeps the setting's current value.
void ReadItem(std::FILE* f, int* target) {
  int v;
  if (std::fscanf(f, "%d", &v) == 1) *target = v;
}

}  // namespace

void ReadCameraSettings() {
  std::FILE* f = std::fopen("SetCamera3.txt", "r");
  if (!f) return;
  std::fputs("\n--------------------------------------\n", stdout);
  std::fputs(" 1 : [ CamFlipV    (Set 0 or 1)] \n", stdout);
  std::fputs(" 2 : [ CamFlipH    (Set 0 or 1)] \n", stdout);
  std::fputs(" 3 : [ CamChan     (Set 0 -- n)] \n", stdout);
  std::printf(" 4 : [ CamOnMemory (Set 1 -- %d)] \n", kOnMemoryLimit);
  std::fputs(" 5 : [ CamBeep     (Set 0 or 1)] \n", stdout);
  std::fputs("--------------------------------------\n", stdout);

  ReadItem(f, &control.CamFlipV);
  std::printf("SET: CamFlipV     = %d ( 1-> Invert Camera Image Vertically) \n", control.CamFlipV);
  ReadItem(f, &control.CamFlipH);
  std::printf("SET: CamFlipH     = %d ( 1-> Invert Camera Image Horizontally) \n", control.CamFlipH);
  ReadItem(f, &control.CamChan);
  std::printf("SET: CamChan      = %d ( Camera ID number ) \n", control.CamChan);
  int ignored = 0;
  ReadItem(f, &ignored);  // read to keep the item order; only one frame is ever kept in memory
  control.CamOnMemory = 1;
  std::printf("SET: CamOnMemory  = %d ( Number of On-Memory Frames ) \n", control.CamOnMemory);
  ReadItem(f, &control.CamBeep);
  std::printf("SET: CamBeep      = %d ( 1-> Beep ON ) \n", control.CamBeep);
  std::fclose(f);
}

}  // namespace orv
