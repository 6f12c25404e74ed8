#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "common/app_state.h"
#include "control/operator_view.h"

using namespace orv;

// Measured rates join the camera state in the top strip, inside the picture; nothing else moves.
TEST(OperatorView, RatesShowInTheTopStripOnceMeasured) {
  const cv::Mat base(360, 640, CV_8UC3, cv::Scalar(40, 80, 120));
  cv::Mat plain, rates;
  RenderOperatorView(base, plain);
  app.ViewChangeRate = 59.0, app.ViewCycleRate = 1000.0;
  RenderOperatorView(base, rates);
  const int strip = 360 / 14;
  EXPECT_EQ(cv::norm(plain.rowRange(strip, 360), rates.rowRange(strip, 360), cv::NORM_INF), 0.0);
  EXPECT_GT(cv::norm(plain.rowRange(0, strip), rates.rowRange(0, strip), cv::NORM_L1), 1e5);
  EXPECT_EQ(cv::norm(rates(cv::Rect(636, 0, 4, strip)) - cv::Scalar(24, 24, 24), cv::NORM_INF), 0.0);
}
