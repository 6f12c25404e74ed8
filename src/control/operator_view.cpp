// The operator view over the player window, and the learning texts drawn over the frame while
// the view is off. Visitors see the frames untouched: the view is
// drawn on a copy of the shown picture, only while an operator asked for it (o) or a teaching
// runs, so the frame cache, the saved frames and every computed value stay as they are.
// The texts change a few times a second at most, so they are drawn once into cached panels;
// a cycle copies the picture and the panels and draws the bars.
#include "control/operator_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "common/timer.h"
#include "control/control_state.h"
#include "common/display.h"
#include "common/limits.h"
#include "common/platform.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "control/teaching.h"
#include "learning/learning.h"

namespace orv {

namespace {

// --- inks, texts and layout ---

constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
const cv::Scalar kPanel(24, 24, 24);
const cv::Scalar kInk(255, 255, 255);
const cv::Scalar kStateInk(60, 230, 255);    // amber: the state line
const cv::Scalar kWarningInk(60, 60, 255);   // red: the state line when it warns
const cv::Scalar kQuiet(0, 190, 0);          // motion below the threshold
const cv::Scalar kAbove(0, 90, 255);         // motion above it
const cv::Scalar kEvidence(230, 160, 60);
const cv::Scalar kJudged(0, 230, 255);       // the judged gesture
const cv::Scalar kTrack(70, 70, 70);

// Hershey fonts know ASCII only: the dash of the state words becomes '-', anything else '?'.
std::string Ascii(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    if (s.compare(i, 3, "\xE2\x80\x94") == 0) {
      out += '-';
      i += 2;
      continue;
    }
    while (i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) ++i;
    out += '?';
  }
  return out;
}

// A gesture's name as the Hershey fonts can draw it.
std::string Name(int g) { return Ascii(GestureName(g)); }

std::string CameraState() {
  if (player.CameraOn != 0) return "camera on";
  if (player.CameraWasLost != 0) return player.CameraRetry > 0.0 ? "camera lost, retrying" : "camera lost";
  return "camera off";
}

// The camera state, then the rates once they are measured (real window only).
std::string CameraWord() {
  std::string rates;
  if (control.ViewChangeRate >= 0.0 && control.ViewCycleRate >= 0.0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "  %.0f fr/s %.0f cyc/s", control.ViewChangeRate, control.ViewCycleRate);
    rates = buf;
  }
  return CameraState() + rates;
}

// Font scale whose capital letters are `height` pixels high.
double ScaleFor(double height) {
  int base = 0;
  const int h1 = cv::getTextSize("H", kFont, 1.0, 1, &base).height;
  return std::max(0.1, height / std::max(1, h1));
}

int Thick(double scale) { return std::max(1, static_cast<int>(std::lround(scale * 2.0))); }

int WidthOf(const std::string& s, double scale) {
  int base = 0;
  return cv::getTextSize(s, kFont, scale, Thick(scale), &base).width;
}

// Words of text in lines no wider than width.
std::vector<std::string> Wrap(const std::string& text, double scale, int width) {
  std::vector<std::string> lines;
  std::string line, word;
  auto flush = [&] {
    if (word.empty()) return;
    const std::string joined = line.empty() ? word : line + " " + word;
    if (!line.empty() && WidthOf(joined, scale) > width) {
      lines.push_back(line);
      line = word;
    } else {
      line = joined;
    }
    word.clear();
  };
  for (char c : text) {
    if (c == ' ')
      flush();
    else
      word += c;
  }
  flush();
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Where everything goes in a W x H picture.
struct Layout {
  int margin = 2;
  cv::Rect top;     // strip with the motion meter and the camera state
  cv::Rect meter;   // the meter's track inside it
  cv::Rect band;    // the state line(s) at the bottom
  cv::Rect column;  // gesture rows (gesture mode), empty when there is no room or nothing taught
  int rowHeight = 0;
};

// Everything drawn from text, and what it was drawn from.
struct TextLayer {
  std::string key;
  Layout layout;
  cv::Mat top, band, column;  // opaque panels, copied over the picture
  std::vector<int> rows;      // gesture of each row of the column
};
TextLayer cache;

std::string VerdictText(int g) {
  const size_t gi = static_cast<size_t>(g);
  std::string s;
  char buf[64];
  if (learning.Followability[gi] >= 0) {
    std::snprintf(buf, sizeof buf, " follow %d", learning.Followability[gi]);
    s += buf;
  }
  const int near = learning.NearestGesture[gi];
  if (near >= 0 && near < kGestures) {
    std::snprintf(buf, sizeof buf, " near %s %.2f", Name(near).c_str(), learning.NearestRatio[gi]);
    s += buf;
  }
  return s;
}

void BuildLayer(int W, int H, const std::string& state, const std::string& camera, const std::vector<int>& rows,
                const std::vector<std::string>& rowTexts) {
  Layout& L = cache.layout;
  L = Layout{};
  const int m = std::max(2, H / 90);
  L.margin = m;
  const int th = std::max(12, H / 14);
  L.top = cv::Rect(0, 0, W, std::min(th, H));
  L.meter = cv::Rect(m, m, std::max(4, W * 55 / 100 - m), std::max(2, L.top.height - 2 * m));

  // The state line: capitals a fourteenth of the picture high (a fifteenth reads from 3 m on a
  // 1280x720 window), on up to two lines; smaller only when it cannot fit.
  const double minScale = ScaleFor(H / 40.0);
  double scale = ScaleFor(H / 14.0);
  std::vector<std::string> lines = Wrap(state, scale, W - 2 * m);
  while ((lines.size() > 2 || (lines.size() == 1 && WidthOf(lines[0], scale) > W - 2 * m)) && scale > minScale) {
    scale *= 0.92;
    lines = Wrap(state, scale, W - 2 * m);
  }
  int base = 0;
  const int capH = cv::getTextSize("H", kFont, scale, Thick(scale), &base).height;
  const int lineH = capH * 17 / 10;
  const int nLines = std::max<int>(1, static_cast<int>(lines.size()));
  const int bh = std::min(H - L.top.height, nLines * lineH + capH * 7 / 10 + m);
  L.band = cv::Rect(0, H - bh, W, bh);
  cache.band.create(bh, W, CV_8UC3);
  cache.band.setTo(kPanel);
  for (int i = 0; i < static_cast<int>(lines.size()); ++i)
    cv::putText(cache.band, lines[static_cast<size_t>(i)], {m, capH * 6 / 5 + i * lineH + m / 2}, kFont, scale,
                control.FollowWarning >= 0 ? kWarningInk : kStateInk, Thick(scale), cv::LINE_AA);

  cache.top.create(L.top.height, W, CV_8UC3);
  cache.top.setTo(kPanel);
  double small = ScaleFor(L.top.height * 0.5);
  // With the rates (real window only) the line is long: smaller where it would leave the picture.
  if (control.ViewCycleRate >= 0.0) small = std::min(small, small * (W * 41 / 100) / std::max(1, WidthOf(camera, small)));
  cv::putText(cache.top, camera, {W * 58 / 100, L.top.height * 3 / 4}, kFont, small,
              player.CameraOn ? kInk : kAbove, Thick(small), cv::LINE_AA);

  // One row per taught gesture: its name and verdict, then its evidence bar and, when judged,
  // its phase.
  cache.rows = rows;
  const int avail = L.band.y - L.top.height - 2 * m;
  const int n = static_cast<int>(rows.size());
  if (n > 0 && avail > 0) {
    L.rowHeight = std::min(avail / n, H / 9);
    if (L.rowHeight >= 9) {
      const int x0 = W * 60 / 100;
      L.column = cv::Rect(x0, L.top.height + m, W - x0, L.rowHeight * n);
      cache.column.create(L.column.height, L.column.width, CV_8UC3);
      cache.column.setTo(kPanel);
      for (int r = 0; r < n; ++r) {
        const std::string& t = rowTexts[static_cast<size_t>(r)];
        double rs = ScaleFor(L.rowHeight * 0.32);
        rs = std::min(rs, rs * (L.column.width - 2 * m) / std::max(1, WidthOf(t, rs)));
        cv::putText(cache.column, t, {m, r * L.rowHeight + L.rowHeight * 2 / 5}, kFont, rs, kInk, Thick(rs),
                    cv::LINE_AA);
      }
    }
  }
}

}  // namespace

// --- the view ---

void RenderOperatorView(const cv::Mat& base, cv::Mat& out) {
  if (base.empty() || base.cols < 16 || base.rows < 16) {
    out.create(240, 320, CV_8UC3), out.setTo(cv::Scalar(0, 0, 0));
    if (!base.empty()) return;  // too small for a view: nothing over the black
  } else if (base.channels() != 3) {
    cv::cvtColor(base, out, cv::COLOR_GRAY2BGR);
  } else {
    out.create(base.size(), CV_8UC3);  // filled below, where no panel covers it
  }
  const int W = out.cols, H = out.rows;

  std::string state = Ascii(TeachingStateText());
  if (state.empty()) {
    const int g = std::clamp(control.TeachGesture, 0, kGestures - 1);
    state = "ready - g teaches [" + Name(g) + "]";
  }
  const std::string camera = CameraWord();
  std::vector<int> rows;
  std::vector<std::string> rowTexts;
  if (player.PlayerMode == 0)
    for (int g = 0; g < kGestures; ++g)
      if (HasStandardMotion(g)) rows.push_back(g), rowTexts.push_back(Name(g) + VerdictText(g));

  std::string key = std::to_string(W) + "x" + std::to_string(H) + "|" + state + "|" + camera;
  for (const std::string& t : rowTexts) key += "|" + t;
  if (key != cache.key) {
    BuildLayer(W, H, state, camera, rows, rowTexts);
    cache.key = key;
  }
  const Layout& L = cache.layout;
  // The picture between the top strip and the state band; the panels cover the rest.
  if (!base.empty() && base.channels() == 3 && L.band.y > L.top.height)
    base.rowRange(L.top.height, L.band.y).copyTo(out.rowRange(L.top.height, L.band.y));
  cache.top.copyTo(out(L.top));
  cache.band.copyTo(out(L.band));

  // Motion meter, log scale up to ten times the threshold; the mark is the threshold.
  const double threshold = std::max(1, player.VR_threshold);
  const double full = std::log1p(threshold * 10.0);
  const double v = std::max(0, player.DifferenceSum);
  const cv::Rect& M = L.meter;
  const int fill = static_cast<int>(M.width * std::min(1.0, std::log1p(v) / full));
  const int mark = M.x + static_cast<int>(M.width * std::log1p(threshold) / full);
  cv::rectangle(out, M, kTrack, cv::FILLED);
  if (fill > 0) cv::rectangle(out, {M.x, M.y, fill, M.height}, v > threshold ? kAbove : kQuiet, cv::FILLED);
  cv::rectangle(out, {mark - 1, M.y - L.margin / 2, 3, M.height + L.margin}, kInk, cv::FILLED);

  if (L.column.area() <= 0 || cache.column.empty()) return;
  cache.column.copyTo(out(L.column));
  // Evidence: each gesture's share of the largest cumulative score of the sequence.
  std::array<double, kGestures> score{};
  double top = 0.0;
  for (const RankEntry& e : recog.CumRanking)
    if (e.gesture >= 0 && e.gesture < kGestures) {
      score[static_cast<size_t>(e.gesture)] = std::max(0.0, e.score);
      top = std::max(top, e.score);
    }
  const int m = L.margin, rh = L.rowHeight;
  const int x = L.column.x + m, w = L.column.width - 2 * m;
  for (size_t r = 0; r < cache.rows.size(); ++r) {
    const int g = cache.rows[r];
    const int y = L.column.y + static_cast<int>(r) * rh;
    const cv::Rect bar(x, y + rh / 2, w, std::max(2, rh / 6));
    cv::rectangle(out, bar, kTrack, cv::FILLED);
    const double share = top > 0.0 ? score[static_cast<size_t>(g)] / top : 0.0;
    if (share > 0.0)
      cv::rectangle(out, {bar.x, bar.y, std::max(1, static_cast<int>(w * share)), bar.height}, kEvidence, cv::FILLED);
    if (g != control.ViewJudged) continue;
    cv::rectangle(out, {L.column.x, y, L.column.width, rh - 1}, kJudged, std::max(1, rh / 16));
    const cv::Rect phase(x, y + rh * 3 / 4, w, std::max(2, rh / 7));
    cv::rectangle(out, phase, kTrack, cv::FILLED);
    if (control.ViewLength > 0 && control.ViewPhase > 0) {
      const double p = std::min(1.0, static_cast<double>(control.ViewPhase) / control.ViewLength);
      cv::rectangle(out, {phase.x, phase.y, std::max(1, static_cast<int>(w * p)), phase.height}, kJudged, cv::FILLED);
    }
  }
}

void ShowOperatorView() {
  if (player.OperatorView == 0) return;
  static cv::Mat out;  // reused: no allocation per cycle
  RenderOperatorView(player.ShownFrame, out);
  DisplayShow(kPlayerWindow, out);
}

void ToggleOperatorView() {
  player.OperatorView = player.OperatorView == 0 ? 1 : 0;
  control.FollowWarning = -1;  // o: the warning has been read
  std::printf("SET: operator view = [ %s ]\n", player.OperatorView ? "ON" : "OFF");
  player.RedrawMark = -1.0;  // off: the next display step shows the plain frame again
}

void OperatorViewForTeaching() {
  control.LastTeaching = NowStamp();
  control.FollowWarning = -1;  // a new teaching: the last verdict's warning has been read
  if (timer.SkipWaits != 0 || player.OperatorView != 0) return;
  player.OperatorView = 2;
  player.RedrawMark = -1.0;
}

// --- learning texts over the frame ---

void ShowLearningText(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
  if (player.OperatorView != 0) {
    ShowOperatorView();  // the view says the same in its state line
    return;
  }

  cv::Mat canvas;
  if (!player.ShownFrame.empty()) {
    if (player.ShownFrame.channels() == 3)
      canvas = player.ShownFrame.clone();
    else
      cv::cvtColor(player.ShownFrame, canvas, cv::COLOR_GRAY2BGR);
  } else {
    canvas = cv::Mat(240, 320, CV_8UC3, cv::Scalar(0, 0, 0));
  }

  // Long texts go on two lines, broken after their first sentence.
  std::string first = text, second;
  if (const size_t cut = first.find(". "); cut != std::string::npos) {
    second = first.substr(cut + 2);
    first = first.substr(0, cut + 1);
  }
  const int font = cv::FONT_HERSHEY_SIMPLEX;
  int base = 0;
  const int widest = std::max(cv::getTextSize(first, font, 1.0, 2, &base).width,
                              cv::getTextSize(second, font, 1.0, 2, &base).width);
  const double scale = std::clamp((canvas.cols - 16.0) / std::max(1, widest), 0.3, 1.0);
  const int lineH = static_cast<int>(36 * scale) + 4;
  const int lines = second.empty() ? 1 : 2;
  const int top = std::max(0, canvas.rows - lines * lineH - 8);
  cv::Mat band = canvas.rowRange(top, canvas.rows);
  band *= 0.35;  // darkened so the text reads over any picture
  for (int i = 0; i < lines; ++i) {
    const cv::Point at(8, top + (i + 1) * lineH);
    cv::putText(canvas, i == 0 ? first : second, at, font, scale, cv::Scalar(60, 230, 255),
                std::max(1, static_cast<int>(2 * scale)), cv::LINE_AA);
  }
  DisplayShow(kPlayerWindow, canvas);
  player.RedrawMark = -1.0;  // the next display step puts the plain frame back
}

}  // namespace orv
