#include "install/uninstall.h"

#include "core/app_state.h"
#include "core/log.h"

namespace Orv {

// Removal is not part of this build yet. Nothing is touched, and the exit code says it did not happen.
int Uninstall(const std::wstring& folder, bool) {
    Log(L"uninstall " + folder + L": not available in this build");
    return kExitFailed;
}

int UninstallRun(const std::wstring& folder, uint32_t, bool) {
    Log(L"uninstall " + folder + L": not available in this build");
    return kExitFailed;
}

} // namespace Orv
