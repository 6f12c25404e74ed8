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
// The still level is the 99th percentile of the still values, floored at SamplePoints() so
// that a noiseless room still gives a positive threshold; the motion level is the 10th
// percentile of the moving values. Their ratio is the margin; the threshold is their
// geometric mean, as far from the one as from the other in the ratio that matters to a
// camera (noise and motion both scale with the light). Below kMinMotionMargin, or with fewer
// than kMinLevelValues values in a class, there is no clear separation and no threshold.
constexpr double kMinMotionMargin = 2.0;
constexpr int kMinLevelValues = 10;
struct MotionLevels {
  int stillCount = 0, movingCount = 0;  // values in each class
  int still = 0;                        // still level (DifferenceSum)
  int motion = 0;                       // motion level (DifferenceSum)
  double margin = 0.0;                  // motion / still; 0 when a class is empty
  int threshold = 0;                    // suggested VR_threshold; 0 when not separated
  bool separated = false;               // enough values in both classes and margin reached
  std::string why;                      // when not separated: one line saying why
};
MotionLevels LevelsOf(std::vector<int> still, std::vector<int> moving, int samplePoints);
// Splits motion values into still and moving by Otsu's method on log(value + 1), then
// LevelsOf. The split maximises the between-class variance of the logarithms: noise and
// motion differ by a factor, not by an amount, and on that axis both are compact humps while
// a few large motion values no longer outweigh a room's worth of noise. No parameter, no
// assumption about how long the room stands still. *split = the largest still value.
MotionLevels SeparateMotion(const std::vector<int>& values, int samplePoints, int* split = nullptr);
// Nearest-rank percentile (p in 0..100) of unsorted values; 0 for none.
int Percentile(std::vector<int> values, double p);

}  // namespace orv
