// The one instance of the engine's state.
#include "common/learning_state.h"
#include "common/recognition_state.h"

namespace orv {

RecognitionState recog;
LearningState learn;

}  // namespace orv
