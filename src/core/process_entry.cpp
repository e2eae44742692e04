// The entry of the shipped programs. The linker starts the program here (orv_process_entry in
// src/CMakeLists.txt), before the C runtime, the static initialisers and any DLL the program loads by
// name: the DLL search is limited to System32 first, then the C runtime's own entry takes over.
#include "core/dll_search.h"

// MinGW-w64's entries (crt2u.o): they set the runtime up and call wmain, or wWinMain through it.
extern "C" int WinMainCRTStartup();
extern "C" int mainCRTStartup();

extern "C" int OrvWindowsEntry() {
    Orv::LimitDllSearch();
    return WinMainCRTStartup();
}

extern "C" int OrvConsoleEntry() {
    Orv::LimitDllSearch();
    return mainCRTStartup();
}
