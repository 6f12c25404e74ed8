// The one instance of the learning's working state.
#include "learning/learning_work.h"

namespace orv {

LearningWork learning;

}  // namespace orv
