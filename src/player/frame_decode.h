// Decoding a frame file at the size it is shown. The one decode of a frame's picture: the
// display step's load (and so the Z/X shift) and the read-ahead cache's workers use it.
#pragma once
#include <opencv2/core.hpp>

namespace orv {

// The JPEG reader's reduction for a picture of size `full` shown at `shown`: 4 when it is shown
// at a quarter of its size or less, 2 at half or less, else 1; 1 when `shown` is empty (headless
// runs and replays, or a window not yet fitted).
int DecodeReduction(cv::Size full, cv::Size shown);
// The file at `path` in colour at 1/reduction of its size (reduction 1, 2 or 4; anything else
// decodes in full). Empty when it cannot be read.
cv::Mat DecodeFrame(const char* path, int reduction);

}  // namespace orv
