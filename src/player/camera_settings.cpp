// Camera settings file: read at start-up and at every switch-on, so it can be edited live.
#include <climits>
#include <cstdio>

#include "player/player.h"
#include "kb/learning_state.h"
#include "player/player_state.h"

namespace orv {

namespace {

constexpr int kOnMemoryLimit = 5400;

// A number that is missing or not a number keeps the setting's current value, and so does one
// beyond an int (scanning it with "%d" would be undefined and wrap it into some other value).
void ReadItem(std::FILE* f, const char* item, int* target) {
  long v = 0;
  if (std::fscanf(f, "%ld", &v) != 1) return;
  if (v < INT_MIN || v > INT_MAX) {
    std::fprintf(stderr, "WARNING: SetCamera3.txt: %s = %ld is not a number the player can take; it stays %d.\n",
                 item, v, *target);
    return;
  }
  *target = static_cast<int>(v);
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

  ReadItem(f, "CamFlipV", &player.CamFlipV);
  std::printf("SET: CamFlipV     = %d ( 1-> Invert Camera Image Vertically) \n", player.CamFlipV);
  ReadItem(f, "CamFlipH", &player.CamFlipH);
  std::printf("SET: CamFlipH     = %d ( 1-> Invert Camera Image Horizontally) \n", player.CamFlipH);
  ReadItem(f, "CamChan", &player.CamChan);
  std::printf("SET: CamChan      = %d ( Camera ID number ) \n", player.CamChan);
  int ignored = 0;
  ReadItem(f, "CamOnMemory", &ignored);  // read to keep the item order; only one frame is ever kept in memory
  player.CamOnMemory = 1;
  std::printf("SET: CamOnMemory  = %d ( Number of On-Memory Frames ) \n", player.CamOnMemory);
  ReadItem(f, "CamBeep", &learn.CamBeep);
  std::printf("SET: CamBeep      = %d ( 1-> Beep ON ) \n", learn.CamBeep);
  std::fclose(f);
}

}  // namespace orv
