#include "update/release_path.h"

#include "core/paths.h"

#include <array>

namespace Orv {
namespace {

wchar_t AsciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Windows takes a component for a device when its name before the first dot, less trailing
// blanks, is a device name; "COM" and "LPT" count with the digits 1 to 9 and with ¹, ² and ³.
bool IsDeviceName(std::wstring_view component) {
    std::wstring_view name = component.substr(0, component.find(L'.'));
    while (!name.empty() && name.back() == L' ') {
        name.remove_suffix(1);
    }
    constexpr std::array<std::wstring_view, 6> kNames{L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (const std::wstring_view device : kNames) {
        if (EqualsIgnoringAsciiCase(name, device)) {
            return true;
        }
    }
    if (name.size() != 4) {
        return false;
    }
    const wchar_t number = name[3];
    const bool numbered = (number >= L'1' && number <= L'9') || number == L'\u00B9' || number == L'\u00B2' ||
                          number == L'\u00B3';
    return numbered && (EqualsIgnoringAsciiCase(name.substr(0, 3), L"com") ||
                        EqualsIgnoringAsciiCase(name.substr(0, 3), L"lpt"));
}

bool IsRefusedComponent(std::wstring_view component) {
    return component.empty() || component.back() == L'.' || component.back() == L' ' ||
           IsDeviceName(component);
}

} // namespace

bool IsRefusedPath(std::wstring_view path) {
    if (path.empty() || path.front() == L'\\' || path.find(L':') != std::wstring_view::npos ||
        path.find(L"..") != std::wstring_view::npos) {
        return true;
    }
    // Control characters, and the characters that Windows refuses in a name.
    for (const wchar_t c : path) {
        if (c < L' ' || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos) {
            return true;
        }
    }
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(L'\\', start);
        const std::wstring_view component = path.substr(start, end - start);
        if (IsRefusedComponent(component) ||
            (start == 0 && EqualsIgnoringAsciiCase(component, kDataFolderName))) {
            return true;
        }
        if (end == std::wstring_view::npos) {
            return false;
        }
        start = end + 1;
    }
}

} // namespace Orv
