#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Orv {

// argv[0] to argv[argc-1] as CommandLineToArgvW splits them; argv[0] is never examined.
using Arguments = std::vector<std::wstring>;

// Splits the process's own command line.
Arguments ProcessArguments();

// Equal when they match exactly, ignoring the case of the ASCII letters A to Z only.
bool SameOption(const std::wstring& argument, const wchar_t* option);

// A flag is present when any argument after argv[0] equals it.
bool HasFlag(const Arguments& args, const wchar_t* flag);

// The argument after the first argv[i] (i >= 1, i + 1 < argc) equal to the option.
std::optional<std::wstring> OptionValue(const Arguments& args, const wchar_t* option);

// Reads a decimal like wcstol with base 10; unreadable text gives 0.
int32_t ParseDecimal(const std::wstring& text);

// What start-up does, in the order the modes are tested.
enum class StartKind { UninstallRun, Uninstall, Install, Normal };

struct StartRequest {
    StartKind kind = StartKind::Normal;
    std::wstring folder;   // --uninstall-run or --install value
    uint32_t pid = 0;      // --pid, with --uninstall-run
    bool quiet = false;    // --quiet
    bool desktop = true;   // not --no-desktop, with --install
    bool autoMode = false; // --auto
    bool repair = false;   // --repair
    bool updated = false;  // --updated
    bool noSelfUpdate = false;
};

StartRequest ParseStartRequest(const Arguments& args);

} // namespace Orv
