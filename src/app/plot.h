// Drawing of the tools' plots (orvante-replay, orvante-tune): panels with axes, ticks, grid
// and legends on a white picture, and writing it as a PNG.
#pragma once
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace orv {

inline const cv::Scalar kInk(40, 40, 40), kGrid(225, 225, 225), kShade(200, 245, 255);
inline const cv::Scalar kBlue(190, 90, 0), kRed(30, 30, 220), kGreen(40, 150, 40), kOrange(0, 140, 255);
constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr double kFontScale = 0.45;

// A round step giving about `n` ticks over span.
double TickStep(double span, int n);
std::string Number(double v);

// A plot area: values y0 (bottom) .. y1 (top) over n cycles (or bins) from 1.
struct Panel {
  cv::Rect area;
  double y0, y1;  // value range, bottom to top
  long n;         // cycles
  int X(long cycle) const;
  int Y(double v) const;
};

void Text(cv::Mat& img, const std::string& s, cv::Point at, const cv::Scalar& c = kInk);
// Frame, grid and tick labels of a panel; `labels` replaces the numbers of the y ticks.
// Without cycleTicks the x axis is left to the caller.
void DrawAxes(cv::Mat& img, const Panel& p, double yStep, const std::string& title,
              const std::vector<std::string>& labels = {}, bool cycleTicks = true);

struct LegendItem {
  std::string text;
  cv::Scalar colour;
  bool dot;  // a dot rather than a line
};
void DrawLegend(cv::Mat& img, const Panel& p, const std::vector<LegendItem>& items);

// PNG-encodes the picture and replaces `file` atomically; false with *err otherwise.
bool WritePng(const std::string& file, const cv::Mat& img, std::string* err);
// The plots are PNG pictures: a --plot name must end in .png (or .PNG).
bool IsPngName(const std::string& file);

}  // namespace orv
