// The motion measure and the shared section the copies exchange their motion values through.
#pragma once
#include <string>

namespace orv {

void OpenSharedMemory();
// Sums the grey differences of the two camera buffers into DifferenceSum and publishes it.
void MeasureMotion();
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

}  // namespace orv
