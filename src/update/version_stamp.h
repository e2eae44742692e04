#pragma once
#include <optional>
#include <string>

namespace Orv {

// Replaces the value of the first "ClientVersion" key line of the game's version file with the
// version, leaving every other byte as it was. Never creates the file or the key; writes (and logs)
// only when the value changes.
void StampClientVersion(const std::wstring& path, const std::wstring& version);

// The value of the first "ClientVersion" key line of the version file's text, the one that
// StampClientVersion replaces (empty when the line holds none); nothing when there is no such line.
std::optional<std::string> ClientVersionIn(const std::string& text);

} // namespace Orv
