// The banners, side by side so that they are changed together or not at all.
#include "kb/banners.h"

#include <array>
#include <cstdio>

namespace orv {

namespace {

constexpr std::array<const char*, 4> kGoBanners = {
    // Loaded
    "\nReadKB:\n         OOO            O \n"
    "        O               O \n"
    "        O       OOOO    O \n"
    "        O OOOO O    O   O \n"
    "        O   O  O    O   O \n"
    "        O   O  O    O     \n"
    "         OOO    OOOO    O \n\n",
    // Resumed
    "\n  OOO            O \n"
    " O       OOOO    O \n"
    " O OOOO O    O   O \n"
    " O   O  O    O     \n"
    "  OOO    OOOO    O \n\n",
    // Standard
    "\n OOO            O \n"
    "O               O \n"
    "O       OOOO    O \n"
    "O OOOO O    O   O \n"
    "O   O  O    O   O \n"
    "O   O  O    O     \n"
    " OOO    OOOO    O \n\n",
    // Passes
    "\n OOO            O  O \n"
    "O               O  O \n"
    "O       OOOO    O  O \n"
    "O OOOO O    O   O  O \n"
    "O   O  O    O   O  O \n"
    "O   O  O    O        \n"
    " OOO    OOOO    O  O \n\n",
};

constexpr std::array<const char*, 2> kFinishedBanners = {
    // Saved
    "\nWriteKB:\n         OOOOO  O  O   O  O   OOOO O   O OOOOO OOO    O \n"
    "         O      O  OO  O  O  O     O   O O     O  O   O \n"
    "         O      O  OO  O  O  O     O   O O     O   O  O \n"
    "         OOOO   O  O O O  O   OOO  OOOOO OOOO  O   O  O \n"
    "         O      O  O  OO  O      O O   O O     O   O  O \n"
    "         O      O  O   O  O      O O   O O     O  O     \n"
    "         O      O  O   O  O  OOOO  O   O OOOOO OOO    O \n\n",
    // AutoLearning
    "\nOOOOO  O  O   O  O   OOOO O   O OOOOO OOO    O \n"
    "O      O  OO  O  O  O     O   O O     O  O   O \n"
    "O      O  OO  O  O  O     O   O O     O   O  O \n"
    "OOOO   O  O O O  O   OOO  OOOOO OOOO  O   O  O \n"
    "O      O  O  OO  O      O O   O O     O   O  O \n"
    "O      O  O   O  O      O O   O O     O  O     \n"
    "O      O  O   O  O  OOOO  O   O OOOOO OOO    O \n\n",
};

}  // namespace

void PrintGoBanner(GoBanner which) { std::fputs(kGoBanners[static_cast<size_t>(which)], stdout); }

void PrintFinishedBanner(FinishedBanner which) { std::fputs(kFinishedBanners[static_cast<size_t>(which)], stdout); }

}  // namespace orv
