#pragma once
#include <string>

namespace Orv {

// The setup-mode controls.
void CreateSetupControls();

// The folder picker behind Browse...
void BrowseForFolder();

// INSTALL pressed: reads the window and installs.
void OnInstallPressed();

// Installs into the folder; leaves exitCode at 1 when the installation fails.
void RunInstallation(const std::wstring& folder, bool desktopShortcut, bool startAfterwards);

} // namespace Orv
