// The GO banners, side by side so that they are changed together or not at all.
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

}  // namespace

void PrintGoBanner(GoBanner which) { std::fputs(kGoBanners[static_cast<size_t>(which)], stdout); }

}  // namespace orv
