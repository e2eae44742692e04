#include "observer.h"

namespace Orv::Support {
namespace {

constexpr const wchar_t* kLauncherClass = L"OrvaneLauncher";

struct FindRequest {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (std::wstring(className) != kLauncherClass) {
        return TRUE;
    }
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (request->pid != 0 && owner != request->pid) {
        return TRUE;
    }
    request->found = window;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    auto* controls = reinterpret_cast<std::vector<ControlInfo>*>(param);
    ControlInfo info;
    info.id = ::GetDlgCtrlID(child);
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    info.className = className;
    info.text = ControlText(child);
    info.enabled = ::IsWindowEnabled(child) != FALSE;
    info.visible = (::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0;
    controls->push_back(info);
    return TRUE;
}

} // namespace

HWND FindLauncherWindow(DWORD pid) {
    FindRequest request{pid, nullptr};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
    return request.found;
}

std::vector<ControlInfo> ListControls(HWND window) {
    std::vector<ControlInfo> controls;
    ::EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&controls));
    return controls;
}

std::wstring ControlText(HWND control) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(copied);
    return text;
}

bool ClickControl(HWND window, int id) {
    HWND control = ::GetDlgItem(window, id);
    if (control == nullptr) {
        return false;
    }
    return ::PostMessageW(control, BM_CLICK, 0, 0) != FALSE;
}

bool CloseWindow(HWND window) {
    return ::PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
}

bool MutexExists(const std::wstring& name) {
    HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex == nullptr) {
        return false;
    }
    ::CloseHandle(mutex);
    return true;
}

} // namespace Orv::Support
