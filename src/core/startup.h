#pragma once
#include <windows.h>

namespace Orv {

// The whole start-up sequence; returns the exit code of a one-shot mode or ends the process.
int Startup(HINSTANCE instance, int showCommand);

} // namespace Orv
