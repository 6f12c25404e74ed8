// The one instance of the recognizer's state and of what the learning sets up for it.
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"

namespace orv {

RecognitionState recog;
EngineSetup engine;
std::array<std::array<uint8_t, kGriPixels>, kSeqFrames> PassFrames{};

}  // namespace orv
