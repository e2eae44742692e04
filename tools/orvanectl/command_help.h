#pragma once
#include "orvanectl/command.h"

#include <string>

namespace Orv::Publisher {

// What "orvanectl --help" prints: every command's usage in short, the options every command takes and
// the exit codes.
std::wstring OverviewText();

// What "orvanectl <command> --help" prints: that command's usage, what it does and its options.
std::wstring CommandHelpText(CommandKind kind);

// "orvanectl 1.0.0": what "orvanectl --version" prints.
std::wstring VersionText();

} // namespace Orv::Publisher
