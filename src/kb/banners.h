// The block-letter GO and FINISHED banners of the console: one home for their texts, which
// differ on purpose (each says where the player is when it is printed) and stay exactly as
// they are.
#pragma once

namespace orv {

enum class GoBanner {
  Loaded,    // ReadKB: the knowledge base is loaded ("ReadKB:" above the letters)
  Resumed,   // the pause screen ends with ENTER (the five-row letters)
  Standard,  // a standard motion is awaited: perform it now
  Passes,    // similar-motion passes are awaited ("GO!!")
};

// Prints the banner on stdout.
void PrintGoBanner(GoBanner which);

enum class FinishedBanner {
  Saved,         // WriteKB: the knowledge base is written ("WriteKB:" above the letters)
  AutoLearning,  // automatic learning has taught every chosen gesture
};
void PrintFinishedBanner(FinishedBanner which);

}  // namespace orv
