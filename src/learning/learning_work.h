// The learning's own working state: view-point templates and ranking, the protocol-map kernel,
// the latest learning text, the pass countdown and the followability verdicts. The learning writes
// it (the teaching writes the countdown too); the teaching and the operator view read the
// countdown and the verdicts.
#pragma once
#include <array>

#include "common/limits.h"
#include "kb/learning_state.h"

namespace orv {

// One row of the view-point ranking: a view point and its weight summed over the gestures.
struct ViewScore {
  int view;      // 0..31
  double score;  // sum of GestureWeight x template weight (or 1/0 from RoiMask)
  bool operator==(const ViewScore&) const = default;
};

// The two feature maps (1 difference, 2 foreground, 4 edge) each view point reads; a view
// point counts once per entry towards MapEnable. Maps 0 and 3 are used by no view point.
inline constexpr std::array<std::array<int, 2>, kViews> ViewMaps{{
    {1, 1}, {1, 1}, {1, 1}, {1, 1},  // 0..3
    {1, 2}, {1, 2}, {1, 2}, {1, 2},  // 4..7
    {2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2},  // 8..15
    {1, 1}, {1, 1}, {1, 1}, {1, 1},  // 16..19
    {4, 4}, {4, 4}, {4, 4}, {4, 4},  // 20..23
    {4, 1}, {4, 1}, {4, 1}, {4, 1},  // 24..27
    {2, 1}, {2, 1}, {2, 1}, {2, 1},  // 28..31
}};

// Per-gesture/channel/view tables (only channel = gesture is filled).
template <typename T>
using GestureViewTable = std::array<std::array<std::array<T, kViews>, kGestures>, kGestures>;

struct LearningWork {
  // ---- templates and view-point selection ---------------------------------------------------
  // [gesture][channel][view]: weight (> 0) of a view point's evidence for the gesture, rated by the
  // template building from the learning samples; 1.0 = not rated. Only channel = gesture is used.
  GestureViewTable<double> ViewTemplate = [] {
    GestureViewTable<double> t{};
    for (auto& a : t)
      for (auto& b : a) b.fill(1.0);
    return t;
  }();
  // [gesture][channel][view]: 1 = the view point has a rated template for the gesture (and is
  // active), 0 = not; the plain template building sets it from RoiActive.
  GestureViewTable<int> ViewTemplateFlag{};
  // ViewTemplate as the last learning-form template building left it; the plain form restores it.
  GestureViewTable<double> TemplateBackup = ViewTemplate;
  // Working table of the view-point selection: one row per view point, sorted by score, highest
  // first; only the selection reads it.
  std::array<ViewScore, kViews> ViewRanking{};

  // ---- kernel table (BuildKernelTables) -------------------------------------------------------
  // Protocol-map kernel by distance level 0..999: a sum of four Gaussians whose width OK_HIGH sets,
  // 4 at level 0, falling towards 0; read by the protocol-map building.
  std::array<double, kLevels> MapKernel{};

  // ---- learning passes ------------------------------------------------------------------------
  // The latest learning text of a pass countdown ("GET READY! (n)", "LEARNING ..."), NUL-terminated,
  // as handed to EngineShowText (or printed). Empty = none.
  char LearningText[160] = {};
  // Countdown number being shown, 5..1 (3..1 between passes); 0 = none. The teaching's countdowns
  // and the learning hand-off's count-in set it; the operator view shows it.
  int TeachCountdown = 0;

  // ---- followability -------------------------------------------------------------------------
  // The verdict on each taught motion, measured after its standard motion and after each review
  // (a side computation: no engine state depends on it). Not stored in the knowledge base. Read by
  // the teaching and the operator view.
  std::array<int, kGestures> Followability{-1, -1, -1, -1, -1, -1, -1, -1};  // 0..100; -1 not measured
  std::array<int, kGestures> NearestGesture{-1, -1, -1, -1, -1, -1, -1, -1};  // most confused other gesture; -1 none yet
  std::array<double, kGestures> NearestRatio{};  // its two-gestures-too-close ratio (against MatchLimit)
  // The phase range the verdict saw, 1..length of the gesture; 0 = not measured.
  std::array<int, kGestures> FollowedLow{}, FollowedHigh{};
  bool operator==(const LearningWork&) const = default;
};
extern LearningWork learning;

}  // namespace orv
