// Tuning from a rehearsal: a recording of the room (or one made here with the installation's
// camera) measured by the player's own capture and motion measure, its still and moving
// cycles separated, and the threshold and frame step suggested, plotted and, if asked, written.
#include "app/tune.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/main_loop.h"
#include "app/offline_run.h"
#include "app/plot.h"
#include "control/control_state.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "control/control.h"
#include "control/env_items.h"
#include "player/motion.h"
#include "player/player.h"

namespace fs = std::filesystem;

namespace orv {

namespace {

constexpr int kCountdownSeconds = 3;
constexpr int kCameraFps = 60;  // the rate the player asks its camera for; never recorded faster
constexpr const char* kRecordedFrame = "rehearsal_%05d.png";
constexpr int kPlotW = 1200, kPlotH = 800;
const cv::Scalar kStillGrey(150, 150, 150);

std::string RecordedFrameName(const std::string& folder, int i) {
  char name[32];
  std::snprintf(name, sizeof name, kRecordedFrame, i);
  return (fs::path(folder) / name).string();
}

// Frames from the installation's camera, opened as the q key opens it (CamChan, or the
// recording ORVANTE_CAMERA names), written as captured: the flips are the measure's business.
int Record(const TuneOptions& o, const std::string& folder, std::FILE* out) {
  UseDeviceCamera();
  TurnCameraOn();
  if (!CameraIsOpen()) {
    const std::string rec = EnvOr("ORVANTE_CAMERA", "");
    return OfflineFail(kTuneBadRecording, rec.empty() ? "cannot open the camera " + std::to_string(player.CamChan) +
                                                     " (CamChan of SetCamera3.txt)"
                                               : "cannot open the recording " + rec + " (ORVANTE_CAMERA)");
  }
  for (int n = kCountdownSeconds; n >= 1; --n) {
    std::fprintf(out, "recording %d s into %s in %d ...\n", o.recordSeconds, folder.c_str(), n);
    std::fflush(out);
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(o.recordSeconds);
  const auto period = std::chrono::microseconds(1000000 / kCameraFps);
  auto due = start;
  int frames = 0, reported = 0;
  cv::Mat frame;
  while (Clock::now() < end) {
    std::this_thread::sleep_until(due);
    due = std::max(Clock::now(), due + period);
    const int got = GrabCameraFrame(frame);
    if (got != 0) {
      TurnCameraOff();
      if (got == 1)
        return OfflineFail(kTuneBadRecording, "the camera stopped delivering after " + std::to_string(frames) + " frames");
      return OfflineFail(kTuneBadRecording, "the camera delivers " + std::to_string(frame.cols) + "x" +
                                         std::to_string(frame.rows) + " frames; the player needs 320x240 (8 bits)");
    }
    const std::string name = RecordedFrameName(folder, frames);
    if (!cv::imwrite(name, frame)) {
      TurnCameraOff();
      return OfflineFail(kTuneOutputFailed, "cannot write " + name);
    }
    ++frames;
    const int seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
    if (seconds > reported) {
      reported = seconds;
      std::fprintf(out, "recording: %d of %d s, %d frames\n", seconds, o.recordSeconds, frames);
      std::fflush(out);
    }
  }
  TurnCameraOff();
  std::fprintf(out, "recorded %d frames into %s\n", frames, folder.c_str());
  return kTuneOk;
}

// The frames a burst moves through: the replay period when one is set, else the content.
int SpanFrames(std::string* what) {
  const int start = player.StartFrameNum, end = player.EndFrameNum;
  if (start < end && (start > 0 || end > 0)) {
    *what = "of the replay period " + std::to_string(start) + ".." + std::to_string(end);
    return end - start;
  }
  *what = "of the content's " + std::to_string(player.MaxCount) + " frames";
  return player.MaxCount;
}

// Writes the suggestion through the player's own writers: the threshold file as v/V write
// it, and both values into the parameter file the player reads.
int Apply(const TuneResult& r, std::FILE* out) {
  const bool hadFile = ReadThresholdFile();
  const std::string was =
      hadFile ? std::to_string(player.ZAV_threshold) : "no file (the player uses " + std::to_string(player.ZAV_threshold) + ")";
  if (!WriteThreshold(r.threshold))
    return OfflineFail(kTuneOutputFailed, "cannot write ZAV_THRESHOLD.dat; nothing changed");
  std::fprintf(out, "ZAV_THRESHOLD.dat: %s -> %d\n", was.c_str(), r.threshold);
  if (control.EnvFile.empty()) {
    std::fprintf(out, "no parameter file (zav_env.dat): VR_step needs one; orvante-init makes it\n");
    return kTuneOk;
  }
  EnvDocument doc;
  std::string err;
  if (!ReadEnvFile(control.EnvFile, &doc, &err))
    return OfflineFail(kTuneOutputFailed, "cannot read " + control.EnvFile + ": " + err);
  std::vector<std::pair<int, std::string>> items{{FindEnvItem("VR_threshold"), std::to_string(r.threshold)}};
  if (r.step > 0.0) items.emplace_back(FindEnvItem("VR_step"), FormatEnvValue(FindEnvItem("VR_step"), r.step));
  std::vector<EnvChange> changes;
  std::vector<std::string> why;
  if (!WriteEnvItems(control.EnvFile, &doc, items, &changes, &why)) {
    for (const std::string& line : why) std::fprintf(stderr, "%s\n", line.c_str());
    return OfflineFail(kTuneOutputFailed, control.EnvFile + " was not changed");
  }
  for (const EnvChange& c : changes)
    std::fprintf(out, "%s: %s %s -> %s\n", control.EnvFile.c_str(), EnvItemName(c.item).c_str(), c.was.c_str(),
                 c.now.c_str());
  return kTuneOk;
}

double LogValue(int v) { return std::log10(1.0 + std::max(0, v)); }

// Decade labels of a log10(value + 1) axis: 0, 10, 100, ...
std::vector<std::string> DecadeLabels(int decades) {
  std::vector<std::string> labels;
  for (int k = 0; k <= decades; ++k) labels.push_back(k == 0 ? "0" : Number(std::pow(10.0, k)));
  return labels;
}

// The histogram of the motion values on a log axis with the two levels and the suggestion,
// and the values over the cycles coloured as the player would see them with the suggestion.
bool WriteTunePlot(const std::string& file, const TuneResult& r, const MotionLevels& m, const std::string& title,
                   std::string* err) {
  cv::Mat img(kPlotH, kPlotW, CV_8UC3, cv::Scalar(255, 255, 255));
  const int left = 90, right = 30, top = 56, gap = 60, bottom = 50;
  const int h = (kPlotH - top - bottom - gap) / 2, w = kPlotW - left - right;
  cv::putText(img, title, {left, 26}, kFont, 0.6, kInk, 1, cv::LINE_AA);
  int highest = 1;
  for (int v : r.sums) highest = std::max(highest, v);
  const int decades = std::max(1, static_cast<int>(std::ceil(LogValue(highest))));
  const int threshold = r.threshold;

  // 1: how often each motion value occurs; bins of 1/40 decade.
  constexpr int kBinsPerDecade = 40;
  const int bins = decades * kBinsPerDecade;
  std::vector<int> count(static_cast<size_t>(bins), 0), still(static_cast<size_t>(bins), 0);
  for (size_t i = 1; i < r.sums.size(); ++i) {
    const int b = std::clamp(static_cast<int>(LogValue(r.sums[i]) * kBinsPerDecade), 0, bins - 1);
    ++count[static_cast<size_t>(b)];
    if (r.sums[i] <= r.split) ++still[static_cast<size_t>(b)];
  }
  const int most = std::max(1, *std::max_element(count.begin(), count.end()));
  const double step1 = TickStep(most, 5);
  const Panel p1{cv::Rect(left, top, w, h), 0.0, std::ceil(most / step1) * step1, bins + 1};
  DrawAxes(img, p1, step1, "cycles per motion value (DifferenceSum, log axis): still and moving as separated", {},
           false);
  auto xOf = [&](double logValue) { return p1.X(1 + static_cast<long>(std::lround(logValue * kBinsPerDecade))); };
  for (int k = 0; k <= decades; ++k) {
    const int x = xOf(k);
    cv::line(img, {x, p1.area.y + p1.area.height}, {x, p1.area.y + p1.area.height + 4}, kInk, 1);
    const std::string label = DecadeLabels(decades)[static_cast<size_t>(k)];
    int base = 0;
    const int width = cv::getTextSize(label, kFont, kFontScale, 1, &base).width;
    Text(img, label, {std::min(x - width / 2, kPlotW - 4 - width), p1.area.y + p1.area.height + 18});
  }
  for (int b = 0; b < bins; ++b) {
    if (count[static_cast<size_t>(b)] == 0) continue;
    const int x0 = p1.X(b + 1), x1 = std::max(x0 + 1, p1.X(b + 2) - 1);
    const int yStill = p1.Y(still[static_cast<size_t>(b)]), yAll = p1.Y(count[static_cast<size_t>(b)]);
    const int base = p1.area.y + p1.area.height - 1;
    if (still[static_cast<size_t>(b)] > 0) cv::rectangle(img, {x0, yStill}, {x1, base}, kStillGrey, cv::FILLED);
    if (yAll < yStill) cv::rectangle(img, {x0, yAll}, {x1, yStill}, kBlue, cv::FILLED);
  }
  auto mark = [&](int v, const cv::Scalar& c) {
    if (v <= 0) return;
    const int x = xOf(LogValue(v));
    cv::line(img, {x, p1.area.y}, {x, p1.area.y + p1.area.height - 1}, c, 2, cv::LINE_AA);
  };
  mark(m.still, kGreen);
  mark(m.motion, kOrange);
  mark(threshold, kRed);
  DrawLegend(img, p1,
             {{"still cycles", kStillGrey, false},
              {"moving cycles", kBlue, false},
              {"still level " + std::to_string(m.still), kGreen, false},
              {"motion level " + std::to_string(m.motion), kOrange, false},
              {threshold > 0 ? "suggested VR_threshold " + std::to_string(threshold) : "no suggestion", kRed, false}});

  // 2: the values over the cycles, moving (above the suggestion) in blue.
  const long n = std::max<long>(1, static_cast<long>(r.sums.size()));
  const Panel p2{cv::Rect(left, top + h + gap, w, h), 0.0, static_cast<double>(decades), n};
  DrawAxes(img, p2, 1.0, "DifferenceSum per cycle (log axis): blue moves the player at the suggested threshold",
           DecadeLabels(decades));
  if (threshold > 0) {
    const int y = p2.Y(LogValue(threshold));
    cv::line(img, {p2.area.x, y}, {p2.area.x + p2.area.width - 1, y}, kRed, 1, cv::LINE_AA);
  }
  for (size_t i = 0; i < r.sums.size(); ++i) {
    const bool moving = threshold > 0 ? r.sums[i] > threshold : r.sums[i] > r.split;
    cv::circle(img, {p2.X(static_cast<long>(i) + 1), p2.Y(LogValue(r.sums[i]))}, 2, moving ? kBlue : kStillGrey,
               cv::FILLED, cv::LINE_AA);
  }
  DrawLegend(img, p2, {{"moving", kBlue, true}, {"still", kStillGrey, true}, {"VR_threshold", kRed, false}});
  Text(img, "cycle", {left + w / 2 - 20, kPlotH - 12});
  return WritePng(file, img, err);
}

}  // namespace

// --- arguments ---

bool ParseTuneArgs(const std::vector<std::string>& args, TuneOptions* o, std::string* err) {
  *o = TuneOptions{};
  bool outGiven = false;
  const std::vector<OfflineOption> options{
      TextOption("--workdir", &o->workdir),
      TextOption("--camera", &o->camera),
      {"--record", true,
       [o](const std::string& a) {
         double v = 0.0;
         if (!ParseNumber(a, 1, 3600, &v) || v != std::floor(v)) return std::string("--record takes whole seconds, 1..3600");
         o->recordSeconds = static_cast<int>(v);
         return std::string();
       }},
      {"--out", true,
       [o, &outGiven](const std::string& v) {
         o->out = v;
         outGiven = true;
         return std::string();
       }},
      {"--span", true,
       [o](const std::string& a) {
         double v = 0.0;
         if (!ParseNumber(a, 0.0, 1.0, &v) || v <= 0.0) return std::string("--span takes a share of the content, 0 < F <= 1");
         o->span = v;
         return std::string();
       }},
      FlagOption("--apply", &o->apply),
      FlagOption("--verbose", &o->verbose),
      PlotOption(&o->plot),
  };
  if (!ParseOfflineArgs(args, options, err)) return false;
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return false;
  };
  if (o->camera.empty() == (o->recordSeconds == 0)) return fail("either --camera PATH or --record SECONDS is needed");
  if (outGiven && o->recordSeconds == 0) return fail("--out names the folder of --record");
  return true;
}

// --- the tuning ---

double SuggestStep(const std::vector<int>& sums, int threshold, double span, int frames, double* median) {
  std::vector<int> bursts = TurningBursts(sums, threshold);
  if (median) *median = 0.0;
  if (bursts.empty() || frames <= 0) return 0.0;
  std::sort(bursts.begin(), bursts.end());
  const size_t k = bursts.size() / 2;
  const double mid = bursts.size() % 2 ? bursts[k] : (bursts[k - 1] + bursts[k]) / 2.0;
  if (median) *median = mid;
  // Three decimals: the parameter file stays readable and the player cannot tell the difference.
  return std::max(0.001, std::round(span * frames / mid * 1000.0) / 1000.0);
}

int RunTune(const TuneOptions& given, std::FILE* out, TuneResult* result) {
  TuneOptions o = given;
  TuneResult local;
  TuneResult& r = result ? *result : local;
  r = TuneResult{};
  o.camera = AbsolutePath(o.camera);
  o.plot = AbsolutePath(o.plot);
  o.out = AbsolutePath(o.out);
  if (const int code = BeginOfflineRun("orvante-tune", o.workdir); code != kTuneOk) return code;
  const std::string folder = o.out.empty() ? AbsolutePath("rehearsal") : o.out;

  // Everything that can be refused is refused before the set-up has said anything.
  if (o.recordSeconds > 0) {
    std::error_code ec;
    if (fs::exists(RecordedFrameName(folder, 0), ec))
      return OfflineFail(kTuneBadArguments, folder + " already holds a recording; name another folder with --out");
    fs::create_directories(folder, ec);
    if (ec) return OfflineFail(kTuneOutputFailed, "cannot create " + folder + ": " + ec.message());
  } else {
    RecordingInfo rec;
    if (const int code = CheckRecording(o.camera, &rec); code != kTuneOk) return code;
    // An image sequence stores no rate (the back-end states a default of its own).
    const bool sequence = o.camera.find('%') != std::string::npos;
    const std::string rate = sequence || rec.fps <= 0.0 ? "unknown" : Number(rec.fps);
    std::fprintf(out, "recording: %dx%d, %s frames per second, %s frames\n", rec.width, rec.height, rate.c_str(),
                 rec.frames > 0 ? std::to_string(rec.frames).c_str() : "unknown");
    if (rec.width != kCamW || rec.height != kCamH)
      std::fprintf(out,
                   "note: the player's camera delivers 320x240; these frames are scaled to it as the player scales "
                   "them, but another camera's noise and motion per frame differ from the installation's\n");
    if (!sequence && rec.fps > 0.0 && std::fabs(rec.fps - kCameraFps) > 1.0)
      std::fprintf(out,
                   "note: the player asks its camera for %d frames per second; at another rate the motion between two "
                   "frames differs\n",
                   kCameraFps);
  }

  // The player's start, minus everything that reaches beyond this process.
  SetUpOffline({kTuneNoContent, "the set-up of the working directory ended the run (no content; see above)", true,
                false});
  if (o.recordSeconds > 0) {
    const int code = Record(o, folder, out);
    if (code != kTuneOk) return code;
    o.camera = (fs::path(folder) / kRecordedFrame).string();
  }

  // The player's own capture and measure, frame by frame: SampleStep of the parameter file,
  // the flips of SetCamera3.txt, recordings of any size scaled.
  UseRecordingCamera(o.camera, false);
  TurnCameraOn();
  if (!CameraIsOpen()) return OfflineFail(kTuneBadRecording, "cannot open the recording " + o.camera);
  while (CaptureAndMeasure()) r.sums.push_back(player.DifferenceSum);
  if (player.CameraEnd == 2)
    return OfflineFail(kTuneBadRecording, "a frame of the recording cannot be used (after " + std::to_string(r.sums.size()) +
                                       " frames; see the size error above)");
  if (r.sums.size() < 2) return OfflineFail(kTuneBadRecording, "the recording " + o.camera + " has fewer than two frames");

  // The first frame is compared with an empty buffer, not with the room: left out.
  r.samplePoints = SamplePoints();
  const MotionLevels m = SeparateMotion(std::vector<int>(r.sums.begin() + 1, r.sums.end()), r.samplePoints, &r.split);
  r.threshold = m.separated ? m.threshold : 0;
  int code = kTuneOk;
  if (m.separated) {
    std::fprintf(out, "still level  = %d (99th percentile of %d still cycles, at least %d; 1st percentile %d)\n", m.still,
                 m.stillCount, StillFloor(r.samplePoints), m.stillLow);
    std::fprintf(out, "motion level = %d (5th percentile of %d moving cycles; %.2f times the still level)\n", m.motion,
                 m.movingCount, m.margin);
    std::fprintf(out,
                 "separation   = %.2f (log gap between the levels / log spread of the still cycles; %.1f or more is "
                 "clear)\n",
                 m.separation, kMinSeparation);
    std::fprintf(out, "VR_threshold = %d (geometric mean of the two levels)\n", r.threshold);
    // 0 is the player's own start value, which its loop turns into 1.
    if (player.PlayState != 0 && player.PlayState != 1)
      std::fprintf(out, "note: PlayState is %d in %s; the step is computed for PlayState 1 (bursts of motion)\n",
                   player.PlayState, control.EnvFile.c_str());
    std::string what;
    const int frames = SpanFrames(&what);
    double median = 0.0;
    r.step = SuggestStep(std::vector<int>(r.sums.begin() + 1, r.sums.end()), r.threshold, o.span, frames, &median);
    if (r.step > 0.0)
      std::fprintf(out, "VR_step      = %s (the median burst that turns the direction, %g cycles, moves through %g %s)\n",
                   FormatEnvValue(FindEnvItem("VR_step"), r.step).c_str(), median, o.span, what.c_str());
    else
      std::fprintf(out, "VR_step      : not suggested: no burst of more than %d cycles above the threshold turns the direction\n",
                   kBurstFlipCameraOn);
    std::fflush(out);
    if (o.apply) code = Apply(r, out);
  } else {
    code = OfflineFail(kTuneNoSeparation, m.why + "; nothing suggested, nothing written");
  }
  if (!o.plot.empty()) {
    std::string err;
    if (!WriteTunePlot(o.plot, r, m, "orvante-tune: " + fs::path(o.camera).filename().string(), &err) && code == kTuneOk)
      code = OfflineFail(kTuneOutputFailed, err);
  }
  std::fflush(stdout);
  std::fflush(out);
  return code;
}

}  // namespace orv
