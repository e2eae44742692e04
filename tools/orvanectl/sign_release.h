#pragma once
#include "core/outcome.h"

#include <cstdint>
#include <string>

namespace Orv::Publisher {

struct SignSummary {
    std::wstring mirrorRoot; // absolute
    int32_t release = 0;
    bool replacedSignature = false; // the manifest carried a signature before
};

// Signs the mirror's manifest.txt in place with the private key file: a signature line it ends in is
// replaced, and the signed text is moved over the manifest in one rename. The manifest must parse;
// the key is read first, so nothing is written when it is bad.
Outcome<SignSummary> SignMirror(const std::wstring& mirrorRoot, const std::wstring& privateKeyFile);

} // namespace Orv::Publisher
