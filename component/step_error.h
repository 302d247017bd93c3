// Step errors live in the platform layer, below everything that raises them;
// this name stays for callers.
#pragma once

#include "platform/step_error.h"
