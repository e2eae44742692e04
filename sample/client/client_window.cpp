#include "client_window.h"

#include "core/handles.h"

namespace Orv::Sample {
namespace {

constexpr DWORD kFileLimit = 1048576;
constexpr int kWidth = 480;
constexpr int kHeight = 90;
constexpr int kMargin = 16;

bool IsGap(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The text control is made while the window is created, so it exists once the window can be found.
LRESULT CALLBACK TextWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        const HWND label = ::CreateWindowExW(
            0, L"STATIC", static_cast<const wchar_t*>(create->lpCreateParams),
            WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kMargin, kMargin, kWidth - 2 * kMargin,
            kHeight - 2 * kMargin, window, nullptr, create->hInstance, nullptr);
        if (label == nullptr) {
            return -1;
        }
        // A stock object: the system owns it.
        ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)),
                       FALSE);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

std::wstring ArgumentText() {
    const wchar_t* line = ::GetCommandLineW();
    // The program path as the system splits it: up to the closing quote, or to the first gap.
    bool quoted = false;
    while (*line != L'\0' && (quoted || !IsGap(*line))) {
        if (*line == L'"') {
            quoted = !quoted;
        }
        ++line;
    }
    while (IsGap(*line)) {
        ++line;
    }
    return line;
}

std::wstring OwnFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::optional<std::string> ReadSmallFile(const std::wstring& path) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kFileLimit) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

std::wstring Utf8ToWide(const std::string& text) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

int RunTextWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
                  const std::wstring& text, int showCommand) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = TextWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    ::RegisterClassExW(&windowClass);

    constexpr DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kWidth, kHeight};
    ::AdjustWindowRect(&frame, style, FALSE);
    const HWND window = ::CreateWindowExW(0, className, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                          frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                          nullptr, instance, const_cast<wchar_t*>(text.c_str()));
    if (window == nullptr) {
        return 1;
    }
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);

    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

} // namespace Orv::Sample
