#pragma once
#include "core/outcome.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Orv {

// One file of a release.
struct FileEntry {
    std::wstring path;  // relative to the game folder, with backslashes
    uint64_t size = 0;  // bytes of the finished file
    std::string sha256; // 64 lower-case hex digits of the finished file
    uint64_t zsize = 0; // bytes of the object on the server
    bool compressed = false;
    char kind = '-'; // 's': the launcher itself; 'k': only has to exist
};

inline constexpr char kKindLauncher = 's';
inline constexpr char kKindKeep = 'k';

// One release as described by manifest.txt.
struct Manifest {
    int32_t release = 0;
    std::wstring clientVersion;
    std::wstring server;
    std::wstring launch;
    std::wstring launcher;
    std::wstring created;
    std::wstring expires; // UTC "YYYY-MM-DDTHH:MM:SSZ" after which a signed release is refused
    std::vector<FileEntry> files;
    std::string text; // the whole input, unchanged
};

// Parses manifest.txt (format 1). Never returns a partial manifest.
Outcome<Manifest> ParseManifest(std::string text);

} // namespace Orv
