// Drawing of the tools' plots.
#include "app/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>

#include "common/platform.h"

namespace orv {

double TickStep(double span, int n) {
  if (!(span > 0.0)) return 1.0;
  const double raw = span / n;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * mag >= raw) return m * mag;
  return 10.0 * mag;
}

std::string Number(double v) {
  char buf[32];
  if (std::fabs(v) >= 1e6)
    std::snprintf(buf, sizeof buf, "%.3g", v);
  else if (v == std::floor(v))
    std::snprintf(buf, sizeof buf, "%.0f", v);
  else
    std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

int Panel::X(long cycle) const {
  return area.x + (n <= 1 ? 0 : static_cast<int>(std::lround((cycle - 1) * (area.width - 1.0) / (n - 1))));
}

int Panel::Y(double v) const {
  const double t = (v - y0) / (y1 - y0);
  return area.y + area.height - 1 - static_cast<int>(std::lround(std::clamp(t, 0.0, 1.0) * (area.height - 1)));
}

void Text(cv::Mat& img, const std::string& s, cv::Point at, const cv::Scalar& c) {
  cv::putText(img, s, at, kFont, kFontScale, c, 1, cv::LINE_AA);
}

void DrawAxes(cv::Mat& img, const Panel& p, double yStep, const std::string& title,
              const std::vector<std::string>& labels, bool cycleTicks) {
  const long xStep = static_cast<long>(std::max(1.0, TickStep(static_cast<double>(p.n), 10)));
  for (long c = 1; cycleTicks && c <= p.n; c += (c == 1 && xStep > 1 ? xStep - 1 : xStep)) {
    const int x = p.X(c);
    cv::line(img, {x, p.area.y}, {x, p.area.y + p.area.height - 1}, kGrid, 1);
    cv::line(img, {x, p.area.y + p.area.height}, {x, p.area.y + p.area.height + 4}, kInk, 1);
    int base = 0;
    const std::string s = std::to_string(c);
    const cv::Size sz = cv::getTextSize(s, kFont, kFontScale, 1, &base);
    Text(img, s, {x - sz.width / 2, p.area.y + p.area.height + 18});
  }
  int i = 0;
  for (double v = std::ceil(p.y0 / yStep) * yStep; v <= p.y1 + 1e-9; v += yStep, ++i) {
    const int y = p.Y(v);
    cv::line(img, {p.area.x, y}, {p.area.x + p.area.width - 1, y}, kGrid, 1);
    cv::line(img, {p.area.x - 4, y}, {p.area.x, y}, kInk, 1);
    const std::string s = labels.empty() ? Number(v) : (i < static_cast<int>(labels.size()) ? labels[i] : "");
    int base = 0;
    const cv::Size sz = cv::getTextSize(s, kFont, kFontScale, 1, &base);
    Text(img, s, {p.area.x - 8 - sz.width, y + sz.height / 2});
  }
  cv::rectangle(img, p.area, kInk, 1);
  Text(img, title, {p.area.x, p.area.y - 8});
}

void DrawLegend(cv::Mat& img, const Panel& p, const std::vector<LegendItem>& items) {
  int width = 0;
  for (const auto& it : items) {
    int base = 0;
    width = std::max(width, cv::getTextSize(it.text, kFont, kFontScale, 1, &base).width);
  }
  const int rowH = 18, w = width + 44, h = rowH * static_cast<int>(items.size()) + 8;
  const cv::Rect box(p.area.x + p.area.width - w - 8, p.area.y + 8, w, h);
  cv::rectangle(img, box, cv::Scalar(255, 255, 255), cv::FILLED);
  cv::rectangle(img, box, kInk, 1);
  int y = box.y + 4 + rowH / 2;
  for (const auto& it : items) {
    if (it.dot)
      cv::circle(img, {box.x + 18, y}, 3, it.colour, cv::FILLED, cv::LINE_AA);
    else if (it.colour == kShade)
      cv::rectangle(img, {box.x + 8, y - 6}, {box.x + 28, y + 6}, it.colour, cv::FILLED);
    else
      cv::line(img, {box.x + 8, y}, {box.x + 28, y}, it.colour, 2, cv::LINE_AA);
    Text(img, it.text, {box.x + 36, y + 5});
    y += rowH;
  }
}

bool IsPngName(const std::string& file) {
  const std::string ext = std::filesystem::path(file).extension().string();
  return ext == ".png" || ext == ".PNG";
}

bool WritePng(const std::string& file, const cv::Mat& img, std::string* err) {
  std::vector<uchar> png;
  if (!cv::imencode(".png", img, png)) {
    if (err) *err = "cannot encode the plot";
    return false;
  }
  if (!WriteFileAtomic(file, std::string(png.begin(), png.end()))) {
    if (err) *err = "cannot write " + file;
    return false;
  }
  return true;
}

}  // namespace orv
