#include "player/frame_decode.h"

#include <exception>

#include <opencv2/imgcodecs.hpp>

namespace orv {

int DecodeReduction(cv::Size full, cv::Size shown) {
  if (shown.width <= 0 || shown.height <= 0 || full.width <= 0 || full.height <= 0) return 1;
  // Both sides must allow it, so that the picture is never enlarged on the screen.
  const auto fits = [&](int r) { return shown.width * r <= full.width && shown.height * r <= full.height; };
  return fits(4) ? 4 : fits(2) ? 2 : 1;
}

cv::Mat DecodeFrame(const char* path, int reduction) {
  // The reduced reads scale in the JPEG decoder itself (fewer DCT coefficients), which costs a
  // fraction of a full decode; other formats are decoded in full and then reduced by OpenCV.
  const int flag = reduction == 4 ? cv::IMREAD_REDUCED_COLOR_4
                   : reduction == 2 ? cv::IMREAD_REDUCED_COLOR_2
                                    : cv::IMREAD_COLOR;
  try {
    return cv::imread(path, flag);
  } catch (const std::exception&) {
    return cv::Mat();  // a file the decoder chokes on is a file that does not decode
  }
}

}  // namespace orv
