#pragma once
#include "core/outcome.h"
#include "orvanectl/progress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Orv::Publisher {

struct VerifyReport {
    std::wstring mirrorRoot; // absolute
    int32_t release = 0;
    size_t files = 0;
    size_t objects = 0;       // distinct objects checked
    uint64_t objectBytes = 0; // their bytes as listed
    // One line per bad object, "objects/<2 hex>/<name>: <reason>", in the order of the names.
    std::vector<std::wstring> problems;
};

// Reads the mirror's manifest.txt with the launcher's own parser and checks every distinct object it
// names. Fails when the manifest cannot be read or parsed; bad objects are listed in the report.
Outcome<VerifyReport> VerifyMirror(const std::wstring& mirrorRoot, const LineSink& say);

// One line that sums up a report without problems.
std::wstring VerifySummaryText(const VerifyReport& report);

} // namespace Orv::Publisher
