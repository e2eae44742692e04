#pragma once
#include "core/outcome.h"
#include "orvanectl/progress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Orv::Publisher {

struct PullReport {
    std::wstring folder;  // absolute
    std::wstring baseUrl; // ending in "/"
    int32_t release = 0;
    size_t fetched = 0;        // files fetched, verified and moved into place
    size_t present = 0;        // files the folder held and that verified
    uint64_t fetchedBytes = 0; // bytes received for files
    bool manifestWritten = false;
    // One line per file that could not be brought, naming its URL or its file.
    std::vector<std::wstring> problems;
};

// Copies the release the mirror at the base URL serves into the folder, so that the folder is a mirror
// of the same release: every object, chunk list, chunk, pack index and pack the manifest names, fetched
// with the launcher's HTTP client on twelve connections, each verified by its size and SHA-256 (an
// object by the file it holds) in a temporary file beside its place and moved there in one rename.
// A file the folder already holds is kept when it verifies and fetched again when it does not.
// manifest.txt comes last, byte for byte as served, in one rename, and only when every file is there
// and verified: otherwise the folder's manifest stays as it was. Fails, before anything but the
// manifest is fetched, when the folder cannot be written, the manifest cannot be fetched or parsed, or
// with a public key (base64; empty for none) the manifest does not verify as a launcher with the key
// would take it.
Outcome<PullReport> PullMirror(const std::wstring& baseUrl, const std::wstring& folder,
                               const std::string& publicKey, const LineSink& say);

// The line that sums up a pull.
std::wstring PullSummaryText(const PullReport& report);

} // namespace Orv::Publisher
