// Imports winhttp.dll and bcrypt.dll the ordinary way, as the launcher once did. The planted-DLL tests
// run it beside the planted DLLs to show that, under their Wine settings, a DLL beside a program that
// imports it statically is loaded.
#include <windows.h>

#include <bcrypt.h>
#include <winhttp.h>

int wmain() {
    ::WinHttpCloseHandle(nullptr);
    ::BCryptDestroyHash(nullptr);
    return 0;
}
