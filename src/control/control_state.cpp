// The one instance of the operator commands' state.
#include "control/control_state.h"

namespace orv {

ControlState control;
std::array<int32_t, 23000> PivotHistory{};

}  // namespace orv
