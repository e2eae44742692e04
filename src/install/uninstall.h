#pragma once
#include <cstdint>
#include <string>

namespace Orv {

// "--uninstall": asks, hands the removal to a temporary copy; returns the exit code.
int Uninstall(const std::wstring& folder, bool quiet);

// "--uninstall-run": removes the installation in the folder; returns the exit code.
int UninstallRun(const std::wstring& folder, uint32_t pid, bool quiet);

} // namespace Orv
