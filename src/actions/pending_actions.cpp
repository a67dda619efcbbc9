// The install actions not built yet. Until each arrives, its update step
// finishes at once (the engine logs the step and moves on) and its analysis
// check finds nothing. Each function leaves this file when its subsystem lands.
#include "app/context.h"

// Camera.
