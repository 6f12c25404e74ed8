// The one instance of the application state.
#include "app/app_state.h"

namespace orv {

AppState app;

}  // namespace orv
