// The motion measure and the shared section the copies exchange their motion values through.
#pragma once
#include <string>
#include <vector>

namespace orv {

void OpenSharedMemory();
// Sums the grey differences of the two camera buffers into DifferenceSum and publishes it.
void MeasureMotion();
// The sum MeasureMotion takes (|grey difference| of the two camera buffers on the SampleStep
// grid), without publishing it: the stillness check measures the room with it.
int GreyDifferenceSum();
// Points of the SampleStep grid (4,800 at step 4): one grey level on each is the least
// difference a camera that sees anything at all gives between two frames.
int SamplePoints();
void CopySharedIn();   // section -> SharedMirror
void CopySharedOut();  // SharedMirror -> section
// The camera went off or the copy ends: its own word becomes 0 and word 0 is formed again.
void WithdrawMotion();
// This copy becomes the writer of word 1..32 in the liveness section: should it end without
// withdrawing (killed, crashed), the other copies stop counting what it wrote there.
void ClaimSharedWord(int word);
// Name of the section: "/RWT_SHARED_MEMORY", or ORVANTE_SHM_NAME (tests and rehearsals use
// their own section so that they never disturb a running installation).
std::string SharedMemoryName();
std::string AliveSectionName();  // SharedMemoryName() + ".alive": who wrote each camera word
// Removes both names (tests, benchmarks); the mappings of running copies stay.
void RemoveSharedSections(const std::string& name);

// ---- still and moving: where the motion threshold belongs ------------------------------
// The still level is the 99th percentile of the still values, floored at StillFloor() so that
// a noiseless room still gives a positive threshold; the motion level is the 5th percentile of
// the moving values. The threshold is their geometric mean, as far from the one as from the
// other in the ratio that matters to a camera (noise and motion both scale with the light).
// The two are clearly apart when the gap between the levels, on a log scale, is at least
// kMinSeparation times the still values' own spread (1st to 99th percentile, at least 1 %):
// a camera's noise is a narrow hump whose width says how far it reaches, so a gap of 1.2 times
// the level can be as clear as one of 100 times. With fewer than kMinLevelValues values in a
// class, or a smaller gap, there is no clear separation and no threshold.
constexpr double kMinSeparation = 1.0;
constexpr int kMinLevelValues = 10;
// Values whose 5th and 95th percentiles lie within this factor of each other are one room's
// noise (nothing moves); a wider single hump is motion throughout.
constexpr double kNoiseSpread = 1.5;
struct MotionLevels {
  int stillCount = 0, movingCount = 0;  // values in each class
  int still = 0;                        // still level (DifferenceSum), at least StillFloor()
  int stillLow = 0;                     // 1st percentile of the still values (DifferenceSum)
  int motion = 0;                       // motion level (DifferenceSum)
  double margin = 0.0;                  // motion / still; 0 when a class is empty
  double separation = 0.0;              // log gap between the levels / log spread of the still values
  int threshold = 0;                    // suggested VR_threshold; 0 when not separated
  bool separated = false;               // enough values in both classes and separation reached
  std::string why;                      // when not separated: one line saying why
};
// The least still level: one grey level on one sample point in a hundred (48 at SampleStep 4),
// at least 1. A recording without noise (exact copies) gives 0 for its still cycles.
int StillFloor(int samplePoints);
MotionLevels LevelsOf(std::vector<int> still, std::vector<int> moving, int samplePoints);
// Splits motion values into still and moving on log(value + 1), then LevelsOf. The split is the
// one under which two normal humps, each with its own width, explain the values best (minimum
// error): the still cycles are a narrow hump (camera noise, or exact zeros) and the moving ones
// a wide one, so a split that assumed equal widths would cut into the moving hump. Each class
// keeps at least kMinLevelValues values. No assumption about how long the room stands still.
// When no split separates, the reason says whether the values are one room's noise or motion
// throughout. *split = the largest still value.
MotionLevels SeparateMotion(const std::vector<int>& values, int samplePoints, int* split = nullptr);
// Nearest-rank percentile (p in 0..100) of unsorted values; 0 for none.
int Percentile(std::vector<int> values, double p);

}  // namespace orv
