#include "core/startup.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return Orv::Startup(instance, showCommand);
}
