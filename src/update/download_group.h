#pragma once
#include "update/manifest.h"

#include <vector>

namespace Orv {

// Entries with one sha256: the first is downloaded, the others receive copies.
struct DownloadGroup {
    std::vector<const FileEntry*> entries;
};

} // namespace Orv
