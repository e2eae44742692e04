#include "core/command_line.h"

#include "core/handles.h"

#include <windows.h>

#include <cwchar>
#include <shellapi.h>

namespace Orv {
namespace {

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

} // namespace

Arguments ProcessArguments() {
    Arguments args;
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr) {
        return args;
    }
    LocalMemory owner(reinterpret_cast<HLOCAL>(argv));
    for (int i = 0; i < count; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

bool SameOption(const std::wstring& argument, const wchar_t* option) {
    const size_t length = std::wcslen(option);
    if (argument.size() != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (FoldAscii(argument[i]) != FoldAscii(option[i])) {
            return false;
        }
    }
    return true;
}

bool HasFlag(const Arguments& args, const wchar_t* flag) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (SameOption(args[i], flag)) {
            return true;
        }
    }
    return false;
}

std::optional<std::wstring> OptionValue(const Arguments& args, const wchar_t* option) {
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (SameOption(args[i], option)) {
            return args[i + 1];
        }
    }
    return std::nullopt;
}

int32_t ParseDecimal(const std::wstring& text) {
    // wcstol's own rules: leading white space, an optional sign, digits up to the first non-digit,
    // clamped to the range of long (32 bits on Windows).
    return static_cast<int32_t>(std::wcstol(text.c_str(), nullptr, 10));
}

StartRequest ParseStartRequest(const Arguments& args) {
    StartRequest request;
    request.quiet = HasFlag(args, L"--quiet");
    if (auto folder = OptionValue(args, L"--uninstall-run")) {
        request.kind = StartKind::UninstallRun;
        request.folder = *folder;
        const auto pid = OptionValue(args, L"--pid");
        request.pid = pid ? static_cast<uint32_t>(ParseDecimal(*pid)) : 0;
        return request;
    }
    if (HasFlag(args, L"--uninstall")) {
        request.kind = StartKind::Uninstall;
        return request;
    }
    if (auto folder = OptionValue(args, L"--install")) {
        request.kind = StartKind::Install;
        request.folder = *folder;
        request.desktop = !HasFlag(args, L"--no-desktop");
        return request;
    }
    request.autoMode = HasFlag(args, L"--auto");
    request.repair = HasFlag(args, L"--repair");
    request.updated = HasFlag(args, L"--updated");
    request.noSelfUpdate = HasFlag(args, L"--no-self-update");
    return request;
}

} // namespace Orv
