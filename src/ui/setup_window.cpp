#include "ui/setup_window.h"

#include "core/app_state.h"
#include "core/log.h"

namespace Orv {

void CreateSetupControls() {}

void BrowseForFolder() {}

void OnInstallPressed() {}

void RunInstallation(const std::wstring& folder, bool, bool) {
    // Installing is not part of this build yet: nothing is written, and the caller learns it failed.
    Log(L"install " + folder + L": not available in this build");
    App().exitCode = kExitFailed;
}

} // namespace Orv
