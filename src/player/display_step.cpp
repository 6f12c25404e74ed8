// Display step: the frame at frame_no, through the one-image cache, with its position mark.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/display.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "player/player.h"
#include "player/display_step.h"

namespace orv {

namespace {

void DrawMark(cv::Mat& img, int x) {
  const int h = img.rows;
  cv::rectangle(img, {x, h - 5}, {x, h}, cv::Scalar(0, 255, 0), 10, cv::LINE_8);
  cv::rectangle(img, {x, h - 4}, {x, h}, cv::Scalar(200, 255, 200), 3, cv::LINE_8);
}

// The mark as on the full-size picture. On a picture decoded at 1/reduction of its size it is
// drawn at full size over the picture's own pixels around its place (enlarged by repetition) and
// reduced again by averaging, as if the marked full-size picture had been scaled down.
void MarkPosition(cv::Mat& img, int reduction) {
  if (player.MaxCount <= 0) return;
  if (reduction <= 1) {
    DrawMark(img, static_cast<int>(img.cols * player.frame_no / player.MaxCount));
    return;
  }
  const int r = reduction;
  const int x = static_cast<int>(img.cols * r * player.frame_no / player.MaxCount);  // on the full picture
  // The mark reaches 5 full-size pixels to each side and 10 up: 8 and 16 leave a margin.
  const cv::Rect around =
      cv::Rect(x / r - 8 / r - 1, img.rows - 16 / r, 16 / r + 3, 16 / r) & cv::Rect(0, 0, img.cols, img.rows);
  if (around.empty()) return;
  cv::Mat big;
  cv::resize(img(around), big, around.size() * r, 0, 0, cv::INTER_NEAREST);
  DrawMark(big, x - around.x * r);
  cv::Mat back = img(around);
  cv::resize(big, back, around.size(), 0, 0, cv::INTER_AREA);
}

// Integer part of a frame position; anything beyond the table (or not a number) maps to -2,
// which no frame has and which a cast of such a value could not give safely.
int FrameIndex(double x) {
  if (!(x > -2.0 && x < static_cast<double>(kMaxFrames))) return -2;
  return static_cast<int>(x);
}

}  // namespace

bool DisplayFrame() {
  const int f = FrameIndex(player.frame_no);
  if (f == FrameIndex(player.RedrawMark)) {
    if (++player.SameFrameCount == 10 && f >= 0 && f < kMaxFrames && FrameData[static_cast<size_t>(f)].loaded == 1)
      DisplayServeEvents(1);  // keeps the window responsive; a key typed now waits for the poll
    return true;
  }
  player.SameFrameCount = 0;

  if (f >= 0 && f < player.MaxCount) {
    FrameRecord& r = FrameData[static_cast<size_t>(f)];
    if (r.loaded == 0 && r.path[0] != '\0') {
      if (player.PendingKey != 'q') player.PendingKey = 1;  // mouse presses during the load are dropped
      if (CountLoadedFrames() >= player.CamOnMemory) ReleaseFrameCache();
      if (!EnsureFrameLoaded(f)) {
        std::fprintf(stderr, "ERROR: cannot load frame image [%s]; the player ends.\n", r.path);
        return false;
      }
      MarkPosition(FrameImages[static_cast<size_t>(f)], player.FrameReduction);
      if (player.PendingKey != 'q') player.PendingKey = 0;
    }

    if (r.http[0] != '\0') {
      std::snprintf(ArgName[static_cast<size_t>(player.LinkSlot)].data(), kNameSize, "%s", r.http);
      const char* link = ArgName[static_cast<size_t>(player.LinkSlot)].data();
      if (FileReadable(link)) {
        player.SideImageLeft = cv::imread(link, cv::IMREAD_COLOR);
        player.SideImageRight = player.SideImageLeft.clone();
        if (!player.SideImageRight.empty()) cv::flip(player.SideImageRight, player.SideImageRight, 1);
      }
      std::printf("DISP: FrameData[ %5d ].http[2] = [%s]\n", f, r.http);
    }
    if (r.file[0] != '\0') {
      player.ShiftedImage = cv::imread(r.file, cv::IMREAD_COLOR);
      std::printf("DISP: FrameData[ %5d ].file[3] = [%s]\n", f, r.file);
    }

    const cv::Mat& img = FrameImages[static_cast<size_t>(f)];
    if (!img.empty()) {
      // The cache keeps the file's orientation; the mirror is drawn into a scratch image.
      static cv::Mat flipped;
      if (player.flip_mode == 0) {
        player.ShownFrame = img;
      } else if (player.flip_mode == 1 || player.flip_mode == 2) {
        cv::flip(img, flipped, player.flip_mode == 1 ? 1 : 0);
        player.ShownFrame = flipped;
      }
      // With the operator view on, the loop shows the frame with the view drawn over a copy.
      const bool shown = player.flip_mode >= 0 && player.flip_mode <= 2;
      if (shown && player.OperatorView == 0) DisplayShow(kPlayerWindow, player.ShownFrame);
      if (shown) ++player.FrameChanges;
    }
  }
  player.RedrawMark = player.frame_no;
  return true;
}

void CreatePlayerWindow(int flags, cv::MouseCallback onMouse) {
  DisplayNamedWindow(kPlayerWindow, flags);
  DisplaySetMouse(kPlayerWindow, onMouse);
}

}  // namespace orv
