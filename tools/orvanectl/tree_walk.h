#pragma once
#include "core/outcome.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Orv::Publisher {

struct FoundFile {
    std::wstring relative; // below the walked folder, with backslashes
    uint64_t size = 0;     // as the folder listing reports it (a link's target may differ)
};

struct TreeListing {
    std::vector<FoundFile> files;
    // Linked folders that lead back into a folder above them, and were therefore not entered again.
    std::vector<std::wstring> loops;
};

// Every file below the absolute folder, in all subfolders. Folders listed in `skip` (absolute) are not
// entered. Linked folders (junctions, symbolic links) are followed like others, except where one leads
// back to a folder above it. Fails when a folder cannot be listed.
Outcome<TreeListing> ListTree(const std::wstring& folder, const std::vector<std::wstring>& skip);

} // namespace Orv::Publisher
