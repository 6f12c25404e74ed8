// Mouse input: each button press becomes the key of the matching command.
#include <cstdio>

#include <opencv2/highgui.hpp>

#include "common/platform.h"
#include "control/control.h"
#include "player/player_state.h"

namespace orv {

void OnMouse(int event, int, int, int, void*) {
  // A press made while another command waits is dropped, not queued.
  if (player.PendingKey > 0) return;
  switch (event) {
    case cv::EVENT_LBUTTONDOWN:
      player.PendingKey = 'e';
      break;
    case cv::EVENT_RBUTTONDOWN:
      Bell();
      std::printf("\n");
      player.PendingKey = 'q';
      break;
    case cv::EVENT_MBUTTONDOWN:
      Bell();
      std::printf("\n");
      player.PendingKey = 'j';
      break;
    default:
      break;
  }
}

}  // namespace orv
