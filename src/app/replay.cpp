// Replay of recorded footage: the player's own set-up and cycle, headless, one cycle per
// recorded frame, traced right after each cycle's stepping.
#include "app/replay.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/app.h"
#include "app/main_loop.h"
#include "app/offline_run.h"
#include "app/plot.h"
#include "app/app_state.h"
#include "control/control_state.h"
#include "kb/learning_state.h"
#include "common/platform.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "control/control.h"
#include "control/teaching.h"
#include "learning/learning.h"
#include "player/player.h"

namespace fs = std::filesystem;

namespace orv {

const char* const kTraceHeader =
    "cycle,frame_no,DifferenceSum,PlayerMode,mflg,DiffPixelCount,rv,rt,JudgedGesture,PHASE,SPEED,ACCEL,"
    "WIDTH,JudgedLength,INP_FNUM,SampleSpread,LearningPasses,REVIEW_MODE";

namespace {

void Polyline(cv::Mat& img, const Panel& p, const std::vector<TraceRow>& rows, double (*value)(const TraceRow&),
              const cv::Scalar& colour) {
  std::vector<cv::Point> pts;
  pts.reserve(rows.size());
  for (const auto& r : rows) pts.emplace_back(p.X(r.cycle), p.Y(value(r)));
  if (!pts.empty()) cv::polylines(img, pts, false, colour, 2, cv::LINE_AA);
}

// --- the run ---

// Everything the per-cycle observer needs; one replay per process.
struct ReplayRun {
  std::FILE* trace = nullptr;
  std::vector<TraceRow> rows;
  bool teaching = false;       // the taught standard motion has not ended yet
  bool taughtEnded = false;    // it ended in the cycle just run
  bool passesStarted = false;  // the similar-motion passes have been started
};
ReplayRun run;

void TraceCycle() {
  TraceRow r = TakeTraceRow();
  // The cycle whose judgement ends the taught motion has handed the gesture back already;
  // it is still the taught motion's.
  if (run.teaching && r.LearnGesture < 0) r.LearnGesture = kGestures;
  run.rows.push_back(r);
  std::string line = FormatTraceRow(r);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), run.trace);
  // The cycle's stepping hands the taught gesture back (-1) in the cycle whose judgement ends
  // the taught motion; that cycle runs on as a normal one.
  if (run.teaching && control.LearnGesture < 0) {
    run.teaching = false;
    run.taughtEnded = true;
  }
}

}  // namespace

// --- arguments ---

bool ParseReplayArgs(const std::vector<std::string>& args, ReplayOptions* o, std::string* err) {
  *o = ReplayOptions{};
  const std::vector<OfflineOption> options{
      TextOption("--workdir", &o->workdir),
      TextOption("--camera", &o->camera),
      {"--learn", true,
       [o](const std::string& v) {
         return ParseWhole(v, 0, kGestures - 1, &o->learn) ? "" : std::string("--learn takes a gesture 0..7");
       }},
      {"--passes", true,
       [o](const std::string& v) {
         return ParseWhole(v, 1, 1000000, &o->passes) ? std::string()
                                                       : std::string("--passes takes a number of passes, 1 or more");
       }},
      FlagOption("--save", &o->save),
      FlagOption("--shared", &o->shared),
      FlagOption("--osc", &o->osc),
      FlagOption("--verbose", &o->verbose),
      TextOption("--trace", &o->trace),
      PlotOption(&o->plot),
  };
  if (!ParseOfflineArgs(args, options, err)) return false;
  auto fail = [&](const std::string& why) {
    if (err) *err = why;
    return false;
  };
  if (o->camera.empty()) return fail("--camera PATH is needed");
  if (o->passes > 0 && o->learn < 0) return fail("--passes needs --learn");
  return true;
}

// --- the trace and the plot ---

TraceRow TakeTraceRow() {
  TraceRow r;
  r.cycle = app.Cycle;
  r.frame_no = player.frame_no;
  r.DifferenceSum = player.DifferenceSum;
  r.PlayerMode = player.PlayerMode;
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
  r.REVIEW_MODE = engine.REVIEW_MODE;
  r.VR_threshold = player.VR_threshold;
  r.MaxCount = player.MaxCount;
  r.LearnGesture = control.LearnGesture;
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

  // Learning: shaded in every panel. The taught standard motion is learning too: its frames
  // are judged as they are stored, so its dots would otherwise seem judged before learning.
  for (int k = 0; k < 3; ++k) {
    const Panel p{area(k), 0.0, 1.0, n};
    for (const auto& r : rs)
      if (r.LearnGesture >= 0 || r.LearningPasses >= 1 || r.REVIEW_MODE != 0) {
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
  DrawLegend(img, p1, {{"DifferenceSum", kBlue, false}, {"VR_threshold", kRed, false}, {"learning (taught motion, passes, review)", kShade, false}});

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

  return WritePng(file, img, err);
}

// --- the replay ---

int RunReplay(const ReplayOptions& given, std::FILE* trace) {
  ReplayOptions o = given;
  o.camera = AbsolutePath(o.camera);
  o.plot = AbsolutePath(o.plot);
  run = ReplayRun{};
  run.trace = trace;
  if (const int code = BeginOfflineRun("orvante-replay", o.workdir); code != kReplayOk) return code;
  RecordingInfo rec;
  if (const int code = CheckRecording(o.camera, &rec); code != kReplayOk) return code;

  // As the player starts, minus its window: headless, no key input, no waits. The recording
  // is the whole input and its end is the end of the run. A replay in an installation's
  // working directory leaves the installation alone: its own shared section, no OSC.
  UseRecordingCamera(o.camera, false);
  SetUpOffline({kReplayNoContent,
                "the set-up in " + (o.workdir.empty() ? std::string(".") : o.workdir) +
                    " ended the run (no content or no shared section; see above)",
                !o.shared, o.osc});

  TurnCameraOn();  // as the q command does: reads SetCamera3.txt, so its flips apply
  if (!CameraIsOpen()) return OfflineFail(kReplayBadRecording, "cannot open the recording " + o.camera);

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
      SimilarMotionEntry(o.learn, o.passes, false);
      run.passesStarted = true;
    }
    run.taughtEnded = false;
  }
  AfterCycleStepping = nullptr;
  if (o.learn >= 0) PrintFollowability(o.learn);  // the verdict once more, where a script reads it
  // What the run produced, from the held console (nothing is held with --verbose: it was shown),
  // before a failure's reason, which stays the last line.
  ShowHeldConsole(kReplayMilestones);

  int code = kReplayOk;
  if (player.CameraEnd == 2)
    code = OfflineFail(kReplayBadRecording, "a frame of the recording cannot be used (after " +
                                                std::to_string(run.rows.size()) + " cycles; see the size error above)");
  else if (player.CameraEnd == 1 && run.rows.empty())
    code = OfflineFail(kReplayBadRecording, "the recording " + o.camera + " delivered no frame");
  else if (player.CameraEnd == 0)
    code = OfflineFail(app.ExitCode != 0 ? app.ExitCode : kReplayBadRecording,
                       "the player ended after " + std::to_string(run.rows.size()) + " cycles, before the recording did");

  if (o.save && code == kReplayOk) {
    // Passes asked for but never started (the recording ended with the taught motion) are
    // learning that did not finish either.
    const bool unfinished = learn.LearningPasses >= 1 || engine.REVIEW_MODE != 0 || run.teaching ||
                            (o.passes > 0 && !run.passesStarted);
    const bool saved = !unfinished && SaveKnowledgeBase();
    ShowHeldConsole(kReplayMilestones);  // its SAVED or NOT SAVED line, before a failure's reason
    if (unfinished)
      code = OfflineFail(kReplayLearningUnfinished,
                         "learning was still running at the end of the recording; nothing saved (the recording is too short)");
    else if (!saved)
      code = OfflineFail(kReplayLearningUnfinished, "nothing was saved: no gesture has been taught");
  }
  std::fflush(trace);
  if (std::ferror(trace) && code == kReplayOk) code = OfflineFail(kReplayOutputFailed, "the trace could not be written");
  bool plotted = false;
  if (!o.plot.empty()) {
    std::string err;
    plotted = WritePlot(o.plot, run.rows, "orvante-replay: " + fs::path(o.camera).filename().string(), &err);
    if (!plotted && code == kReplayOk) code = OfflineFail(kReplayOutputFailed, err);
  }
  if (plotted) std::fprintf(stderr, "orvante-replay: wrote %s\n", o.plot.c_str());
  if (code == kReplayOk)
    std::fprintf(stderr, "orvante-replay: %zu cycles replayed; trace: %s\n", run.rows.size(),
                 o.trace.empty() ? "standard output" : o.trace.c_str());
  std::fflush(stdout);
  return code;
}

}  // namespace orv
