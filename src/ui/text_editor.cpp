#include "ui/text_editor.h"

#include "core/log.h"
#include "core/text.h"
#include "ui/ui_state.h"

#include <fmt/xchar.h>
#include <shellapi.h>

namespace Orv {
namespace {

// Runs the file with the shell's verb "open", never asking which program to use.
DWORD ShellOpen(HWND owner, const wchar_t* file, const wchar_t* parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpVerb = L"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

// Notepad of the system folder: never a program of that name beside the launcher.
std::wstring SystemNotepad() {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return L"notepad.exe";
    }
    return std::wstring(folder, length) + L"\\notepad.exe";
}

} // namespace

void OpenInTextEditor(HWND owner, const std::wstring& path) {
    const DWORD shellError = ShellOpen(owner, path.c_str(), nullptr);
    if (shellError == ERROR_SUCCESS) {
        return;
    }
    const std::wstring notepad = SystemNotepad();
    const std::wstring quoted = L"\"" + path + L"\"";
    const DWORD notepadError = ShellOpen(owner, notepad.c_str(), quoted.c_str());
    if (notepadError == ERROR_SUCCESS) {
        Log(fmt::format(L"log opened in Notepad (the shell has no program for it: error {})", shellError));
        return;
    }
    Log(fmt::format(L"log could not be opened: error {}, Notepad: error {}", shellError, notepadError));
    const std::wstring message =
        fmt::format(L"{}\n{}", Pick(L"The log could not be opened:", L"Günlük açılamadı:"), path);
    ::MessageBoxW(owner, message.c_str(), kWindowTitle, MB_OK | MB_ICONERROR);
}

} // namespace Orv
