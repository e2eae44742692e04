// orvobserve: looks at a running launcher window from outside, for process-level tests.
//
//   orvobserve [--out FILE] [--pid N] [--wait MS] find
//   orvobserve [--out FILE] [--pid N] [--wait MS] controls
//   orvobserve [--pid N] [--wait MS] click ID
//   orvobserve [--pid N] [--wait MS] close
//   orvobserve mutex NAME
//
// Exit code 0 when the window (or mutex) was found and the action done, 1 when not, 2 on bad usage.
#include "observer.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

int Usage() {
    std::fputs(
        "usage: orvobserve [--out FILE] [--pid N] [--wait MS] find|controls|click ID|close|mutex NAME\n",
        stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring outPath;
    DWORD pid = 0;
    long waitMs = 0;
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--out" && i + 1 < argc) {
            outPath = argv[++i];
        } else if (arg == L"--pid" && i + 1 < argc) {
            pid = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--wait" && i + 1 < argc) {
            waitMs = std::wcstol(argv[++i], nullptr, 10);
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        return Usage();
    }
    FILE* out = stdout;
    if (!outPath.empty()) {
        out = _wfopen(outPath.c_str(), L"wb");
        if (out == nullptr) {
            return 2;
        }
    }
    const std::wstring& command = words[0];
    if (command == L"mutex") {
        return words.size() == 2 && Orv::Support::MutexExists(words[1]) ? 0 : 1;
    }

    HWND window = Orv::Support::FindLauncherWindow(pid);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (window == nullptr && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window = Orv::Support::FindLauncherWindow(pid);
    }
    if (window == nullptr) {
        return 1;
    }
    int result = 0;
    if (command == L"find") {
        std::fprintf(out, "%p\n", static_cast<void*>(window));
    } else if (command == L"controls") {
        for (const auto& c : Orv::Support::ListControls(window)) {
            std::fprintf(out, "%d\t%s\t%d\t%d\t%s\n", c.id, Utf8(c.className).c_str(), c.enabled ? 1 : 0,
                         c.visible ? 1 : 0, Utf8(c.text).c_str());
        }
    } else if (command == L"click" && words.size() == 2) {
        result =
            Orv::Support::ClickControl(window, static_cast<int>(std::wcstol(words[1].c_str(), nullptr, 10)))
                ? 0
                : 1;
    } else if (command == L"close") {
        result = Orv::Support::CloseWindow(window) ? 0 : 1;
    } else {
        result = Usage();
    }
    if (out != stdout) {
        std::fclose(out);
    }
    return result;
}
