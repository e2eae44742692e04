#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The lowest release that a launcher with a release key takes for one game folder, kept under the
// current user's registry beside the folder's copy of the last manifest applied: losing or spoiling
// that copy does not let a mirror move the folder back to an older release.
namespace Orv {

// One REG_DWORD value per game folder, named by the folder's full path in upper case.
inline constexpr const wchar_t* kReleaseFloorKey = L"Software\\Orvane\\ReleaseFloor";
inline constexpr const wchar_t* kLauncherKey = L"Software\\Orvane";

// The folder's floor; nothing when there is none, or when the value cannot be read (a log line says
// why).
std::optional<int32_t> ReadReleaseFloor(const std::wstring& gameFolder);

// Raises the folder's floor to the release; a floor never goes down. A floor that cannot be read is
// replaced.
void RaiseReleaseFloor(const std::wstring& gameFolder, int32_t release);

// Removes the folder's floor, and the launcher's key when nothing else is left in it.
void RemoveReleaseFloor(const std::wstring& gameFolder);

} // namespace Orv
