#include "observer.h"
#include "test_folder.h"

namespace Orv::Support {
namespace {

constexpr const wchar_t* kLauncherClass = L"OrvaneLauncher";

struct FindRequest {
    const wchar_t* className;
    DWORD pid; // any process when 0
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (std::wstring(className) != request->className || (request->pid != 0 && owner != request->pid) ||
        (request->visibleOnly && !::IsWindowVisible(window))) {
        return TRUE;
    }
    request->found = window;
    return FALSE;
}

HWND FindTopLevelWindow(const wchar_t* className, DWORD pid, bool visibleOnly) {
    FindRequest request{className, pid, visibleOnly, nullptr};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
    return request.found;
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
    info.handle = child;
    ::GetWindowRect(child, &info.place);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&info.place), 2);
    controls->push_back(info);
    return TRUE;
}

} // namespace

HWND FindLauncherWindow(DWORD pid) {
    return FindTopLevelWindow(kLauncherClass, pid, false);
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

namespace {

// The middle of the control with the id, in its own client area; false when there is no such control.
bool MiddleOf(HWND window, int id, HWND* control, POINT* middle) {
    *control = ::GetDlgItem(window, id);
    RECT box{};
    if (*control == nullptr || !::GetClientRect(*control, &box)) {
        return false;
    }
    *middle = {box.right / 2, box.bottom / 2};
    return true;
}

struct TitleRequest {
    const std::wstring* part;
    HWND found;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<TitleRequest*>(param);
    wchar_t title[512] = {};
    ::GetWindowTextW(window, title, 512);
    if (::IsWindowVisible(window) && std::wstring(title).find(*request->part) != std::wstring::npos) {
        request->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

bool ClickLabel(HWND window, int id) {
    HWND control = nullptr;
    POINT middle{};
    if (!MiddleOf(window, id, &control, &middle)) {
        return false;
    }
    const LPARAM at = MAKELPARAM(middle.x, middle.y);
    return ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at) != FALSE &&
           ::PostMessageW(control, WM_LBUTTONUP, 0, at) != FALSE;
}

bool PointAt(HWND window, int id) {
    HWND control = nullptr;
    POINT middle{};
    if (!MiddleOf(window, id, &control, &middle)) {
        return false;
    }
    ::ClientToScreen(control, &middle);
    return ::SetCursorPos(middle.x, middle.y) != FALSE;
}

HWND FindWindowTitled(const std::wstring& part, DWORD* pid) {
    TitleRequest request{&part, nullptr};
    ::EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&request));
    if (request.found != nullptr && pid != nullptr) {
        ::GetWindowThreadProcessId(request.found, pid);
    }
    return request.found;
}

bool CloseWindow(HWND window) {
    return ::PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
}

namespace {

// Screen coordinates of a client point.
POINT OnScreen(HWND window, int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(window, &point);
    return point;
}

} // namespace

HWND FindMessageBox(DWORD pid) {
    return FindTopLevelWindow(L"#32770", pid, true);
}

std::wstring MessageBoxText(HWND box) {
    // The message text is the static control with the id 0xFFFF.
    HWND text = ::GetDlgItem(box, 0xFFFF);
    return text != nullptr ? ControlText(text) : std::wstring();
}

bool AnswerMessageBox(HWND box, int button) {
    return ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0) != FALSE;
}

bool SelectListEntry(HWND window, int id, int index) {
    HWND list = ::GetDlgItem(window, id);
    if (list == nullptr ||
        ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != static_cast<LRESULT>(index)) {
        return false;
    }
    return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                          reinterpret_cast<LPARAM>(list)) != FALSE;
}

int ListEntryCount(HWND window, int id) {
    HWND list = ::GetDlgItem(window, id);
    return list != nullptr ? static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0)) : -1;
}

COLORREF ScreenPixel(HWND window, int x, int y) {
    const POINT point = OnScreen(window, x, y);
    HDC screen = ::GetDC(nullptr);
    const COLORREF colour = ::GetPixel(screen, point.x, point.y);
    ::ReleaseDC(nullptr, screen);
    return colour;
}

bool WaitForPixel(HWND window, int x, int y, COLORREF colour, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return ScreenPixel(window, x, y) == colour; }, limit);
}

uint64_t ScreenAreaHash(HWND window, RECT area) {
    const POINT origin = OnScreen(window, area.left, area.top);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    ::GdiFlush();
    uint64_t hash = 14695981039346656037ULL;
    const auto* pixels = static_cast<const uint32_t*>(bits);
    for (int i = 0; bits != nullptr && i < width * height; ++i) {
        hash = (hash ^ (pixels[i] & 0xFFFFFF)) * 1099511628211ULL;
    }
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return hash;
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
