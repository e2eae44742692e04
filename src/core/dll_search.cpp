#include "core/dll_search.h"

#include "core/text.h"

#include <windows.h>

namespace Orv {
namespace {

// Written once by the process entry, before the C runtime and any other thread start: plain values
// that need no constructor.
bool searchLimited = false;
DWORD limitError = ERROR_SUCCESS;

Outcome<Ok> SearchLimited() {
    if (searchLimited) {
        return Success();
    }
    if (limitError == ERROR_SUCCESS) {
        return Failure(
            L"The program did not start at its own entry, which limits where DLLs are loaded from.");
    }
    return Failure(L"Windows did not let the program limit where DLLs are loaded from "
                   L"(SetDefaultDllDirectories): " +
                   ErrorText(limitError));
}

Outcome<Module> LoadFromSystem(const wchar_t* name) {
    Module module(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module) {
        const DWORD error = ::GetLastError();
        return Outcome<Module>::Failure(std::wstring(name) + L" did not load from the system folder: " +
                                        ErrorText(error));
    }
    return Outcome<Module>::Success(std::move(module));
}

} // namespace

void LimitDllSearch() {
    if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        limitError = ::GetLastError();
        return;
    }
    searchLimited = true;
}

Outcome<SystemDlls> LoadSystemDlls() {
    if (const Outcome<Ok> limited = SearchLimited(); !limited) {
        return Outcome<SystemDlls>::Failure(limited.message);
    }
    Outcome<Module> bcrypt = LoadFromSystem(L"bcrypt.dll");
    if (!bcrypt) {
        return Outcome<SystemDlls>::Failure(bcrypt.message);
    }
    Outcome<Module> winhttp = LoadFromSystem(L"winhttp.dll");
    if (!winhttp) {
        return Outcome<SystemDlls>::Failure(winhttp.message);
    }
    return Outcome<SystemDlls>::Success(SystemDlls{std::move(*bcrypt.value), std::move(*winhttp.value)});
}

} // namespace Orv
