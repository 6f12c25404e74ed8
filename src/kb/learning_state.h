// Knowledge base and learning state: tuning parameters, learned samples, per-gesture
// limits, pattern records, templates and the recorded frames of a learning pass.
#pragma once
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include "common/limits.h"

namespace orv {

static_assert(std::endian::native == std::endian::little,
              "knowledge-base files are read and written as raw little-endian blocks");

constexpr int kLevels = 1000;     // protocol-map levels, kernel table entries
constexpr int kSigLen = 64;       // directions of a radial signature
constexpr int kJudgeStats = 3;    // JudgeSum/JudgeCount entries per gesture

// Gesture name and learned length, as stored in file 2.
struct GestureEntry {
  char name[20];   // NUL-terminated normally; a name without NUL is used cut at 20 characters
  int32_t number;  // the gesture's own index, not read
  int32_t length;  // frames of the learned standard motion
  bool operator==(const GestureEntry&) const = default;
};
static_assert(sizeof(GestureEntry) == 28, "GestureEntry must match its 28-byte file record");

// One sample taken while learning passes run (file 2).
struct SampleRecord {
  int32_t valid;      // 1 = the view produced a result for the channel's gesture
  int32_t reserved;   // zero
  double similarity;  // 0..1
  double sample;      // 1-based best sample number (the phase reached), 0 = inactive view
  bool operator==(const SampleRecord&) const = default;
};
static_assert(sizeof(SampleRecord) == 24, "SampleRecord must match its 24-byte file record");

// One stored gesture characteristic (file 4).
struct PatternRecord {
  int32_t MODE;       // view point 0..31
  int32_t GESTURE;    // 0..7
  int32_t SAMPLE;     // 0..199
  int32_t reserved;   // not significant
  double Re[kSigLen]; // radial signature
  double Ps[kSigLen]; // spectrum magnitudes
};
static_assert(sizeof(PatternRecord) == 1040, "PatternRecord must match its 1040-byte file record");
static_assert(offsetof(PatternRecord, Re) == 16 && offsetof(PatternRecord, Ps) == 528,
              "PatternRecord field offsets");

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

struct LearningState {
  // parameters, in the order of parameter file 1
  int DThreshold = 40;
  int OK_HIGH = 500;
  double OCThreshold = -1.0;
  int MThreshold = 40;
  int pos_num = 0;             // gesture being learned or last learned, 0..7
  int GRATE = 60;
  double GRATE_SUM = 0.0;
  int GRATE_COUNT = 0;
  int NEROI = 32;
  double SKIP = 1.0;
  double GRATE_SUM2 = 0.0;
  double RSKIP = 1.0;
  int GRATE_COUNT2 = 0;
  double RF_COEFFICIENT = 0.01;
  int IdealGRATE = 0;
  int LearningPasses = 0;      // passes still to run; 0 = not learning
  double StatEpsilon = 0.1;
  int JudgeRepeat = 8;
  double ReservedReal = 8.0;
  int CountdownUnit = 5;       // countdown step in 120 ms units; <= 0: no wait; above 100 a file is cut to 100
  int UseRoiMask = 0;

  // file 2 (SampleTable lives beside this struct)
  std::array<GestureEntry, kGestures> GestureInfo{};
  std::array<int, kViews> RoiActive{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  // [MODE][GESTURE]: one more than the highest stored SAMPLE, -1 = none. Loaded values
  // are bounded to -1..200.
  std::array<std::array<int, kGestures>, kViews> SampleHigh = [] {
    std::array<std::array<int, kGestures>, kViews> t{};
    for (auto& r : t) r.fill(-1);
    return t;
  }();

  // file 3
  std::array<double, kGestures> RateLimit{1e10, 1e10, 1e10, 1e10, 1e10, 1e10, 1e10, 1e10};
  std::array<double, kGestures> GestureSpare{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0};
  std::array<double, kGestures> OK_VAR{2000000, 2000000, 2000000, 2000000,
                                       2000000, 2000000, 2000000, 2000000};
  std::array<double, kGestures> MatchLimit{0.999999, 0.999999, 0.999999, 0.999999,
                                           0.999999, 0.999999, 0.999999, 0.999999};
  std::array<std::array<double, kViews>, kGestures> RoiWeightSum{};
  std::array<std::array<double, kJudgeStats>, kGestures> JudgeSum{};
  std::array<std::array<int, kJudgeStats>, kGestures> JudgeCount{};
  std::array<int, kGestures> SampleCount{};  // next free sample index per gesture, 0..200
  std::array<int, kViews> RoiMask{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

  // templates and view-point selection
  GestureViewTable<double> ViewTemplate = [] {
    GestureViewTable<double> t{};
    for (auto& a : t)
      for (auto& b : a) b.fill(1.0);
    return t;
  }();
  GestureViewTable<int> ViewTemplateFlag{};
  GestureViewTable<double> TemplateBackup = ViewTemplate;
  std::array<double, kGestures> GestureWeight{};
  std::array<double, kGestures> PhaseStepLimit{5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0, 5.0};
  std::array<int, 5> MapEnable{1, 1, 1, 1, 1};  // per feature map: kept view points using it, 0 = off
  std::array<ViewScore, kViews> ViewRanking{};   // working table of the view-point selection

  // kernel tables (BuildKernelTables)
  std::array<double, kLevels> MapKernel{};     // protocol-map kernel by distance level, width OK_HIGH
  std::array<double, kLevels> RadialWeight{};  // signature weight by radius per mille; favours the rim

  // frame source: pass recording and review (PassFrames lives beside this struct)
  int RecordedFrames = 0;  // frames in PassFrames, 0..199
  int ReviewFrame = 0;     // next recorded frame to feed back
  int REVIEW_MODE = 0;     // 0 live, 1 review
  char ReviewText[64] = {};  // composed per fed-back frame; shown by no one yet
  // The latest learning text of a pass countdown ("GET READY! (n)", "LEARNING ..."). Empty = none.
  char LearningText[160] = {};
  // The verdict on each taught motion, measured after its standard motion and after each review
  // (a side computation: no engine state depends on it). Not stored in the knowledge base.
  std::array<int, kGestures> Followability{-1, -1, -1, -1, -1, -1, -1, -1};  // 0..100; -1 not measured
  std::array<int, kGestures> NearestGesture{-1, -1, -1, -1, -1, -1, -1, -1};  // most confused other gesture; -1 none yet
  std::array<double, kGestures> NearestRatio{};  // its two-gestures-too-close ratio (against MatchLimit)
  // The phase range the verdict saw, 1..length of the gesture; 0 = not measured.
  std::array<int, kGestures> FollowedLow{}, FollowedHigh{};
  // Field by field (a teaching's cancel must give back exactly what it found).
  bool operator==(const LearningState&) const = default;
};
extern LearningState learn;

// Big tables, kept beside LearningState so a reset by assignment stays off the stack.
using SampleTableT =
    std::array<std::array<std::array<std::array<SampleRecord, kSeqFrames>, kViews>, kGestures>,
               kGestures>;
extern SampleTableT SampleTable;  // [gesture][channel][view][sample]

// Pattern records, pooled: all 51,200 slots [MODE][GESTURE][SAMPLE] in one block, with
// the Re and Ps halves kept apart so a view's distance scan streams one half only. The
// block is allocated zeroed on the first record (pages stay untouched until a slot is
// written); a null store means no records. PatternPresent[m][g][s] is 1 exactly when the
// slot holds a record. A file record (PatternRecord) is split into Header/Re/Ps and joined
// again when written.
template <typename T>
using SlotTable = std::array<std::array<std::array<T, kSeqFrames>, kGestures>, kViews>;
struct PatternStore {
  SlotTable<std::array<double, kSigLen>> Re;
  SlotTable<std::array<double, kSigLen>> Ps;
  SlotTable<std::array<int32_t, 4>> Header;  // MODE GESTURE SAMPLE reserved
};
struct FreeDeleter {
  void operator()(void* p) const noexcept;
};
extern std::unique_ptr<PatternStore, FreeDeleter> Patterns;
extern SlotTable<int> PatternPresent;

// Allocates the store when there is none. false (store stays null) when memory runs out.
bool EnsurePatternStore();
// Clears the slot's bytes and its flag (no-op for an empty slot).
void ReleasePattern(int mode, int gesture, int sample);
// Releases every record: the whole block goes back and all flags are cleared.
void ReleaseAllPatterns();

// Protocol map [gesture][channel][view][level], 16 MB.
using ProtocolMapT =
    std::array<std::array<std::array<std::array<double, kLevels>, kViews>, kGestures>, kGestures>;
extern ProtocolMapT ProtocolMap;

// Frames recorded during the current learning pass.
extern std::array<std::array<uint8_t, kGriPixels>, kSeqFrames> PassFrames;

}  // namespace orv
