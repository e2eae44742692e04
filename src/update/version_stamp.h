#pragma once
#include <string>

namespace Orv {

// Replaces the value of the first "ClientVersion" key line of the game's version file with the
// version, leaving every other byte as it was. Never creates the file or the key; writes (and logs)
// only when the value changes.
void StampClientVersion(const std::wstring& path, const std::wstring& version);

} // namespace Orv
