// The knowledge base's contents: tuning parameters, learned samples, per-gesture limits,
// pattern records and protocol maps.
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

// What the learning has produced and the knowledge base stores (files 1..3; the samples,
// pattern records and protocol maps are the tables below), with the few working values the
// knowledge base bounds on load. "Read by" names the floors beyond the knowledge base itself.
struct LearningState {
  // ---- parameters, in the order of parameter file 1 ------------------------------------------
  int DThreshold = 40;         // grey step (0..255) above which a pixel counts as changed between
                               // two frames (difference map, DiffPixelCount); recognition, the
                               // operator's commands change it
  int OK_HIGH = 500;           // width parameter of the protocol-map kernel MapKernel, whose terms
                               // are exp(-k x OK_HIGH x (level/1000)^2): larger = narrower;
                               // learning (BuildKernelTables)
  double OCThreshold = -1.0;   // lowest accepted agreement (-1..1) of the cumulative and current
                               // rankings before a sequence is dropped; -1 = never; recognition
  int MThreshold = 40;         // grey level (0..255) above which a pixel is foreground; recognition
  int pos_num = 0;             // gesture being learned or last learned, 0..7; recognition (samples,
                               // review), learning, the teaching
  int GRATE = 60;              // camera frames per second, 1..1000: the recognizer drops a sequence
                               // after GRATE x 60 still frames; the teaching paces by it
  double GRATE_SUM = 0.0;      // stored and read back; nothing else uses it
  int GRATE_COUNT = 0;         // stored and read back; nothing else uses it
  int NEROI = 32;              // view points the view-point selection keeps, 0..32; learning, the
                               // set-up and the teaching set it
  double SKIP = 1.0;           // pixel step (1..100) of the direction tables, the region scan and
                               // the radial signature; recognition, set to 1.0 at set-up
  double GRATE_SUM2 = 0.0;     // stored and read back; nothing else uses it
  double RSKIP = 1.0;          // sample step (1..100, truncated) of the discrimination's scan of
                               // stored samples; recognition, set to 1.0 at set-up
  int GRATE_COUNT2 = 0;        // stored and read back; nothing else uses it
  double RF_COEFFICIENT = 0.01;  // factor from the review's mean evidence to RateLimit; recognition
                                 // (end of review), learning (templates)
  int IdealGRATE = 0;          // stored and read back; nothing else uses it
  int LearningPasses = 0;      // passes still to run; 0 = not learning; counted down by the
                               // learning hand-off; recognition, the teaching and the main loop
  double StatEpsilon = 0.1;    // added to every variance of the template building (> 0 keeps the
                               // division finite); learning
  int JudgeRepeat = 8;         // frames in a row (1..) of the judgement's accept/reject hysteresis;
                               // recognition
  double ReservedReal = 8.0;   // stored and read back; nothing else uses it
  int CountdownUnit = 5;       // countdown step in 120 ms units; <= 0: no wait; above 100 a file is
                               // cut to 100; the teaching's countdowns
  int UseRoiMask = 0;          // 1 = the view-point selection takes RoiMask instead of the learned
                               // evidence; 0 = the evidence; learning, the teaching

  // ---- file 2 (SampleTable lives beside this struct) ------------------------------------------
  std::array<GestureEntry, kGestures> GestureInfo{};  // name and learned length per gesture;
                                                      // every floor that names or scales a gesture
  // Per view point: 1 = takes part in recognition and learning, 0 = off (set by the view-point
  // selection); recognition, learning.
  std::array<int, kViews> RoiActive{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  // [MODE][GESTURE]: one more than the highest stored SAMPLE, -1 = none. Loaded values
  // are bounded to -1..200. Recognition (the discrimination scans this many samples), learning
  // (slot clearing, followability).
  std::array<std::array<int, kGestures>, kViews> SampleHigh = [] {
    std::array<std::array<int, kGestures>, kViews> t{};
    for (auto& r : t) r.fill(-1);
    return t;
  }();

  // ---- file 3 ----------------------------------------------------------------------------------
  // Per gesture: evidence (ranking score) a frame or a sequence needs to make it the candidate;
  // 1e10 = not reachable (not learned). Set by the end of a review and the template building;
  // recognition, the teaching.
  std::array<double, kGestures> RateLimit{1e10, 1e10, 1e10, 1e10, 1e10, 1e10, 1e10, 1e10};
  // Stored and read back; nothing else uses it.
  std::array<double, kGestures> GestureSpare{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0};
  // Per gesture: largest SampleSpread (squared learned frames) of a steady judgement; above it the
  // phase may move at most PhaseStepLimit a frame and the gesture-driven playback counts the frame
  // unsteady. Set by the end of a review; recognition, the main loop, the teaching.
  std::array<double, kGestures> OK_VAR{2000000, 2000000, 2000000, 2000000,
                                       2000000, 2000000, 2000000, 2000000};
  // Per gesture: largest ratio (0..1) of the runner-up's evidence to the leader's; above it the two
  // gestures are too close and the judgement gives none. At least 0.92 after a review; recognition,
  // learning (followability), the teaching.
  std::array<double, kGestures> MatchLimit{0.999999, 0.999999, 0.999999, 0.999999,
                                           0.999999, 0.999999, 0.999999, 0.999999};
  // [gesture][view]: protocol-map evidence a review gathered per view point (>= 0); the view-point
  // selection ranks by it; recognition adds, learning reads.
  std::array<std::array<double, kViews>, kGestures> RoiWeightSum{};
  // [gesture][k]: sums a review gathers for the gesture's limits: 0 current-frame evidence, 1 sample
  // spread, 2 runner-up ratio; JudgeCount counts their terms. Recognition adds and turns them into
  // RateLimit, OK_VAR and MatchLimit at the end of the review; learning clears them.
  std::array<std::array<double, kJudgeStats>, kGestures> JudgeSum{};
  std::array<std::array<int, kJudgeStats>, kGestures> JudgeCount{};
  std::array<int, kGestures> SampleCount{};  // next free sample index per gesture, 0..200;
                                             // recognition, learning, the teaching
  // Per view point: the operator's choice, 1 = may be kept, 0 = not, used instead of the evidence
  // when UseRoiMask is 1; learning.
  std::array<int, kViews> RoiMask{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

  // ---- not stored --------------------------------------------------------------------------------
  // Per gesture: weight (> 0; 1.0 without templates) of its evidence in the rankings, from the
  // template building; 0 = gesture slot cleared. Recognition, learning.
  std::array<double, kGestures> GestureWeight{};
  // Pass recording (the frames are PassFrames, recognition/engine_setup.h): the frame source
  // records and feeds back, the knowledge base bounds them on load, the learning hand-off and the
  // teaching's cancel start the feed-back over.
  int RecordedFrames = 0;  // frames in PassFrames, 0..199
  int ReviewFrame = 0;     // next recorded frame to feed back, 0..RecordedFrames
  // Non-zero: the engine rings the bell at its cues (a knowledge base loaded, a learning pass
  // counted in, an illegal-data warning). From SetCamera3.txt (the player's camera settings).
  int CamBeep = 0;
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

}  // namespace orv
