// The body of the DLLs that the planted-DLL tests put beside a program under the names of system DLLs
// (winhttp.dll, bcrypt.dll). Once loaded, it leaves an empty file "<its own path>.loaded"; its exports,
// made by tests/support/CMakeLists.txt from src/delayload, are stubs that fail.
#include "core/handles.h"

#include <windows.h>

#include <cstdint>

extern "C" intptr_t OrvPlantedFailure() {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return ORV_PLANTED_RESULT;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    constexpr wchar_t kSuffix[] = L".loaded";
    wchar_t path[MAX_PATH + sizeof kSuffix / sizeof kSuffix[0]] = {};
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        ::lstrcpyW(path + length, kSuffix);
        Orv::FileHandle marker(
            ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    return TRUE;
}
