#pragma once
#include <string>

namespace Orv {

// Starts the program detached with the command line "\"<exe>\" <arguments>" in the working folder
// (the launcher's own when empty). Keeps no handle; logs the reason when it fails.
bool LaunchProcess(const std::wstring& executable, const std::wstring& arguments,
                   const std::wstring& workingFolder);

} // namespace Orv
