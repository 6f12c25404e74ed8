// Replay of recorded footage: the player's own set-up and cycle, headless, one cycle per
// recorded frame, traced right after each cycle's stepping.
#include "app/replay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/app.h"
#include "common/app_state.h"
#include "common/control_state.h"
#include "common/display.h"
#include "common/learning_state.h"
#include "common/platform.h"
#include "common/player_state.h"
#include "common/recognition_state.h"
#include "player/player.h"
#include "app/main_loop.h"
#include "control/teaching.h"
#include "kb/kb.h"
#include "learning/learning.h"
#include "player/display_step.h"
#include "control/control.h"

namespace fs = std::filesystem;

namespace orv {

const char* const kTraceHeader =
    "cycle,frame_no,DifferenceSum,PlayerMode,mflg,DiffPixelCount,rv,rt,JudgedGesture,PHASE,SPEED,ACCEL,"
    "WIDTH,JudgedLength,INP_FNUM,SampleSpread,LearningPasses,REVIEW_MODE";

namespace {

bool ParseInt(const std::string& s, int lo, int hi, int* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long x = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || x < lo || x > hi) return false;
  *v = static_cast<int>(x);
  return true;
}

std::string Absolute(const std::string& p) {
  if (p.empty() || fs::path(p).is_absolute()) return p;
  std::error_code ec;
  const fs::path a = fs::absolute(p, ec);
  return ec ? p : a.string();
}

// ---- plot ------------------------------------------------------------------

const cv::Scalar kInk(40, 40, 40), kGrid(225, 225, 225), kShade(200, 245, 255);
const cv::Scalar kBlue(190, 90, 0), kRed(30, 30, 220), kGreen(40, 150, 40), kOrange(0, 140, 255);
constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr double kFontScale = 0.45;

// A round step giving about `n` ticks over span.
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

struct Panel {
  cv::Rect area;
  double y0, y1;  // value range, bottom to top
  long n;         // cycles
  int X(long cycle) const {
    return area.x + (n <= 1 ? 0 : static_cast<int>(std::lround((cycle - 1) * (area.width - 1.0) / (n - 1))));
  }
  int Y(double v) const {
    const double t = (v - y0) / (y1 - y0);
    return area.y + area.height - 1 - static_cast<int>(std::lround(std::clamp(t, 0.0, 1.0) * (area.height - 1)));
  }
};

void Text(cv::Mat& img, const std::string& s, cv::Point at, const cv::Scalar& c = kInk) {
  cv::putText(img, s, at, kFont, kFontScale, c, 1, cv::LINE_AA);
}

// Frame, grid and tick labels of a panel; `labels` replaces the numbers of the y ticks.
void DrawAxes(cv::Mat& img, const Panel& p, double yStep, const std::string& title,
              const std::vector<std::string>& labels = {}) {
  const long xStep = static_cast<long>(std::max(1.0, TickStep(static_cast<double>(p.n), 10)));
  for (long c = 1; c <= p.n; c += (c == 1 && xStep > 1 ? xStep - 1 : xStep)) {
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

struct LegendItem {
  std::string text;
  cv::Scalar colour;
  bool dot;  // a dot rather than a line
};

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

void Polyline(cv::Mat& img, const Panel& p, const std::vector<TraceRow>& rows, double (*value)(const TraceRow&),
              const cv::Scalar& colour) {
  std::vector<cv::Point> pts;
  pts.reserve(rows.size());
  for (const auto& r : rows) pts.emplace_back(p.X(r.cycle), p.Y(value(r)));
  if (!pts.empty()) cv::polylines(img, pts, false, colour, 2, cv::LINE_AA);
}

// ---- the run ---------------------------------------------------------------

// Everything the per-cycle observer needs; one replay per process.
struct ReplayRun {
  std::FILE* trace = nullptr;
  std::vector<TraceRow> rows;
  bool inSetUp = false;
  std::string workdir;
  bool teaching = false;       // the taught standard motion has not ended yet
  bool taughtEnded = false;    // it ended in the cycle just run
  bool passesStarted = false;  // the similar-motion passes have been started
};
ReplayRun run;

void TraceCycle() {
  const TraceRow r = TakeTraceRow();
  run.rows.push_back(r);
  std::string line = FormatTraceRow(r);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), run.trace);
  // The cycle's stepping hands the taught gesture back (-1) in the cycle whose judgement ends
  // the taught motion; that cycle runs on as a normal one.
  if (run.teaching && app.LearnGesture < 0) {
    run.teaching = false;
    run.taughtEnded = true;
  }
}

// A set-up failure ends the process from inside the player's code; say in one line what it
// means for the replay.
void SetUpEnded() {
  if (run.inSetUp)
    std::fprintf(stderr, "orvante-replay: the set-up in %s ended the run (no content or no shared section; see above)\n",
                 run.workdir.c_str());
}

int Fail(int code, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "orvante-replay: %s\n", message.c_str());
  return code;
}

}  // namespace

bool ParseReplayArgs(const std::vector<std::string>& args, ReplayOptions* o, std::string* err) {
  *o = ReplayOptions{};
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool takesValue = a == "--workdir" || a == "--camera" || a == "--learn" || a == "--passes" ||
                            a == "--trace" || a == "--plot";
    if (takesValue && (i + 1 >= args.size() || args[i + 1].empty())) return fail(a + " needs a value");
    if (a == "--workdir") {
      o->workdir = args[++i];
    } else if (a == "--camera") {
      o->camera = args[++i];
    } else if (a == "--learn") {
      if (!ParseInt(args[++i], 0, kGestures - 1, &o->learn)) return fail("--learn takes a gesture 0..7");
    } else if (a == "--passes") {
      if (!ParseInt(args[++i], 1, 1000000, &o->passes)) return fail("--passes takes a number of passes, 1 or more");
    } else if (a == "--save") {
      o->save = true;
    } else if (a == "--trace") {
      o->trace = args[++i];
    } else if (a == "--plot") {
      o->plot = args[++i];
      const std::string ext = fs::path(o->plot).extension().string();
      if (ext != ".png" && ext != ".PNG") return fail("--plot writes a PNG file: name it FILE.png");
    } else {
      return fail("unknown argument " + a);
    }
  }
  if (o->camera.empty()) return fail("--camera PATH is needed");
  if (o->passes > 0 && o->learn < 0) return fail("--passes needs --learn");
  return true;
}

TraceRow TakeTraceRow() {
  TraceRow r;
  r.cycle = app.Cycle;
  r.frame_no = player.frame_no;
  r.DifferenceSum = app.DifferenceSum;
  r.PlayerMode = app.PlayerMode;
  r.mflg = recog.mflg;
  r.DiffPixelCount = recog.DiffPixelCount;
  r.rv = recog.rv;
  r.rt = recog.rt;
  r.JudgedGesture = recog.JudgedGesture;
  r.PHASE = recog.PHASE;
  r.SPEED = recog.SPEED;
  r.ACCEL = recog.ACCEL;
  r.WIDTH = recog.WIDTH;
  r.JudgedLength = recog.JudgedLength;
  r.INP_FNUM = recog.INP_FNUM;
  r.SampleSpread = recog.SampleSpread;
  r.LearningPasses = learn.LearningPasses;
  r.REVIEW_MODE = learn.REVIEW_MODE;
  r.VR_threshold = control.VR_threshold;
  r.MaxCount = player.MaxCount;
  return r;
}

std::string FormatTraceRow(const TraceRow& r) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%ld,%.6f,%d,%d,%d,%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%d,%.6f,%d,%d", r.cycle,
                r.frame_no, r.DifferenceSum, r.PlayerMode, r.mflg, r.DiffPixelCount, r.rv, r.rt, r.JudgedGesture,
                r.PHASE, r.SPEED, r.ACCEL, r.WIDTH, r.JudgedLength, r.INP_FNUM, r.SampleSpread, r.LearningPasses,
                r.REVIEW_MODE);
  return buf;
}

bool WritePlot(const std::string& file, const std::vector<TraceRow>& rows, const std::string& title,
               std::string* err) {
  cv::Mat img(kPlotHeight, kPlotWidth, CV_8UC3, cv::Scalar(255, 255, 255));
  const long n = rows.empty() ? 1 : rows.back().cycle - rows.front().cycle + 1;
  const int left = 90, right = 30, top = 56, gap = 52, bottom = 60;
  const int h = (kPlotHeight - top - bottom - 2 * gap) / 3;
  const int w = kPlotWidth - left - right;
  auto area = [&](int k) { return cv::Rect(left, top + k * (h + gap), w, h); };
  // Cycles counted from the first traced one, so the x axis always starts at 1.
  std::vector<TraceRow> rs = rows;
  const long first = rows.empty() ? 1 : rows.front().cycle;
  for (auto& r : rs) r.cycle = r.cycle - first + 1;

  cv::putText(img, title, {left, 26}, kFont, 0.6, kInk, 1, cv::LINE_AA);

  // Learning passes and their review: shaded in every panel.
  for (int k = 0; k < 3; ++k) {
    const Panel p{area(k), 0.0, 1.0, n};
    for (const auto& r : rs)
      if (r.LearningPasses >= 1 || r.REVIEW_MODE != 0) {
        const int x0 = p.X(r.cycle), x1 = r.cycle < n ? p.X(r.cycle + 1) : x0 + 1;
        cv::rectangle(img, {x0, p.area.y}, {std::max(x0, x1 - 1), p.area.y + p.area.height - 1}, kShade, cv::FILLED);
      }
  }

  // 1: motion against the threshold. The scale follows the bulk of the motion and the
  // threshold, so that a single spike (the first frame differs from an empty buffer) does not
  // flatten everything else; values above the top are drawn on the top edge.
  std::vector<double> sums;
  double top1 = 1.0;
  for (const auto& r : rs) {
    sums.push_back(r.DifferenceSum);
    top1 = std::max(top1, 2.0 * r.VR_threshold);
  }
  if (!sums.empty()) {
    std::sort(sums.begin(), sums.end());
    top1 = std::max(top1, sums[sums.size() * 98 / 100] * 1.1);
  }
  const double step1 = TickStep(top1, 5);
  const Panel p1{area(0), 0.0, std::ceil(top1 / step1) * step1, n};
  const bool clipped = !sums.empty() && sums.back() > p1.y1;
  DrawAxes(img, p1, step1,
           std::string("motion: DifferenceSum against VR_threshold") + (clipped ? " (higher values on the top edge)" : ""));
  Polyline(img, p1, rs, [](const TraceRow& r) { return static_cast<double>(r.DifferenceSum); }, kBlue);
  Polyline(img, p1, rs, [](const TraceRow& r) { return static_cast<double>(r.VR_threshold); }, kRed);
  DrawLegend(img, p1, {{"DifferenceSum", kBlue, false}, {"VR_threshold", kRed, false}, {"learning", kShade, false}});

  // 2: the judged gesture; the end of a judged sequence (PHASE -1) stands out.
  const Panel p2{area(1), -0.5, 7.5, n};
  DrawAxes(img, p2, 1.0, "judged gesture (JudgedGesture 0..7; no dot: nothing judged)",
           {"0", "1", "2", "3", "4", "5", "6", "7"});
  for (const auto& r : rs)
    if (r.JudgedGesture >= 0 && r.JudgedGesture < kGestures)
      cv::circle(img, {p2.X(r.cycle), p2.Y(r.JudgedGesture)}, 3, r.PHASE == -1 ? kRed : kGreen, cv::FILLED,
                 cv::LINE_AA);
  DrawLegend(img, p2, {{"judged", kGreen, true}, {"end of sequence (PHASE -1)", kRed, true}});

  // 3: where the performer is in the gesture, and where the player is in the content.
  const Panel p3{area(2), 0.0, 1.0, n};
  DrawAxes(img, p3, 0.2, "position: PHASE / JudgedLength and frame_no / MaxCount");
  Polyline(img, p3, rs, [](const TraceRow& r) { return r.MaxCount > 0 ? r.frame_no / r.MaxCount : 0.0; }, kInk);
  for (const auto& r : rs)
    if (r.PHASE > 0 && r.JudgedLength > 0)
      cv::circle(img, {p3.X(r.cycle), p3.Y(static_cast<double>(r.PHASE) / r.JudgedLength)}, 2, kOrange, cv::FILLED,
                 cv::LINE_AA);
  DrawLegend(img, p3, {{"frame_no / MaxCount", kInk, false}, {"PHASE / JudgedLength", kOrange, true}});
  Text(img, "cycle", {left + w / 2 - 20, kPlotHeight - 14});

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

int RunReplay(const ReplayOptions& given, std::FILE* trace) {
  ReplayOptions o = given;
  o.camera = Absolute(o.camera);
  o.plot = Absolute(o.plot);
  run = ReplayRun{};
  run.trace = trace;
  run.workdir = o.workdir.empty() ? "." : o.workdir;
  if (!o.workdir.empty()) {
    std::error_code ec;
    fs::current_path(o.workdir, ec);
    if (ec) return Fail(kReplayBadArguments, "cannot enter the working directory " + o.workdir + ": " + ec.message());
  }

  // As the player starts, minus its window: headless, no key input, no waits. The recording
  // is the whole input and its end is the end of the run.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
  UseHeadlessDisplay();
  display.hd.copyShown = false;
  EnginePumpEvents = [] { DisplayWaitKey(1); };
  app.SkipWaits = 1;
  app.SetUpFailureExit = kReplayNoContent;
  player.StopAtCameraEnd = 1;
  UseRecordingCamera(o.camera, false);
  CreatePlayerWindow(0, OnMouse);
  ReadCameraSettings();
  LoadInterfaceImages();

  run.inSetUp = true;
  std::atexit(SetUpEnded);
  SetUpMainLoop();
  run.inSetUp = false;

  TurnCameraOn();  // as the q command does: reads SetCamera3.txt, so its flips apply
  if (!CameraIsOpen()) return Fail(kReplayBadRecording, "cannot open the recording " + o.camera);

  // Teaching starts before the first cycle, without countdown, stillness check or waits:
  // the recording's first motion sequence becomes gesture G's standard motion.
  if (o.learn >= 0) {
    StandardMotionEntry(o.learn, false);
    run.teaching = true;
  }

  std::fputs(kTraceHeader, trace);
  std::fputc('\n', trace);
  AfterCycleStepping = TraceCycle;
  while (RunCycle()) {
    // After the cycle that ended the taught motion (its ClearJudgement included): the
    // learning passes; the review follows them by itself.
    if (run.taughtEnded && o.passes > 0 && !run.passesStarted) {
      SimilarMotionEntry(o.passes, false);
      run.passesStarted = true;
    }
    run.taughtEnded = false;
  }
  AfterCycleStepping = nullptr;
  if (o.learn >= 0) PrintFollowability(o.learn);  // the verdict once more, where a script reads it

  int code = kReplayOk;
  if (player.CameraEnd == 2)
    code = Fail(kReplayBadRecording, "a frame of the recording cannot be used (after " +
                                         std::to_string(run.rows.size()) + " cycles; see the size error above)");
  else if (player.CameraEnd == 1 && run.rows.empty())
    code = Fail(kReplayBadRecording, "the recording " + o.camera + " delivered no frame");
  else if (player.CameraEnd == 0)
    code = Fail(app.ExitCode != 0 ? app.ExitCode : kReplayBadRecording,
                "the player ended after " + std::to_string(run.rows.size()) + " cycles, before the recording did");

  if (o.save && code == kReplayOk) {
    // Passes asked for but never started (the recording ended with the taught motion) are
    // learning that did not finish either.
    const bool unfinished = learn.LearningPasses >= 1 || learn.REVIEW_MODE != 0 || run.teaching ||
                            (o.passes > 0 && !run.passesStarted);
    if (unfinished)
      code = Fail(kReplayLearningUnfinished,
                  "learning was still running at the end of the recording; nothing saved (the recording is too short)");
    else if (!SaveKnowledgeBase())
      code = Fail(kReplayLearningUnfinished, "nothing was saved: no gesture has been taught");
  }
  std::fflush(trace);
  if (std::ferror(trace) && code == kReplayOk) code = Fail(kReplayOutputFailed, "the trace could not be written");
  if (!o.plot.empty()) {
    std::string err;
    if (!WritePlot(o.plot, run.rows, "orvante-replay: " + fs::path(o.camera).filename().string(), &err) &&
        code == kReplayOk)
      code = Fail(kReplayOutputFailed, err);
  }
  std::fflush(stdout);
  return code;
}

}  // namespace orv
