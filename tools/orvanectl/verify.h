#pragma once
#include "core/outcome.h"
#include "orvanectl/mirror_source.h"
#include "orvanectl/progress.h"
#include "update/pack/pack_index.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Orv::Publisher {

enum class SignatureCheck {
    None,       // the manifest carries no signature line
    NotChecked, // it carries one, and no key was given
    Holds,      // it holds under the key
    Fails,      // the manifest is not signed with the key
};

struct VerifyReport {
    std::wstring mirrorRoot; // absolute, or the base URL
    int32_t release = 0;
    size_t files = 0;
    size_t objects = 0;       // distinct objects checked
    uint64_t objectBytes = 0; // their bytes as listed
    // One line per bad object or pack, "objects/<2 hex>/<name>: <reason>" or "packs/<2 hex>/<name>:
    // <reason>", in the order of the names.
    std::vector<std::wstring> problems;
    size_t chunkedFiles = 0; // files published in chunks as well, whose chunks were checked
    size_t chunks = 0;       // chunks of their lists
    size_t packs = 0;        // packs the pack index names, checked
    SignatureCheck signature = SignatureCheck::None;
    // With a key: why the launcher would refuse the manifest although it is signed (it has expired).
    std::wstring refusal;
    bool quick = false; // objects, chunks and packs were only probed for their presence and size
    // What a launcher copes with, but worse than it should (exit 0 all the same).
    std::vector<std::wstring> warnings;
    std::optional<PackIndex> packIndex; // when the manifest names one that could be read
};

// Reads the mirror's manifest.txt with the launcher's own parser and checks every distinct object it
// names, the chunk list and chunk objects of every file published in chunks (and that they rebuild
// the file), the pack index and every pack it names (pack_check.h), and with a public key (base64; empty for
// none) its signature and expiry as the launcher does. Fails when the manifest cannot be read or parsed; bad
// objects are listed in the report.
Outcome<VerifyReport> VerifyMirror(const std::wstring& mirrorRoot, const std::string& publicKey,
                                   const LineSink& say);

// The line that says what became of the signature.
std::wstring SignatureText(const VerifyReport& report);

// The same for the manifest text read from any source; problems name files as the source does. With
// `quick` objects, chunks and packs are only probed for their presence and size (the chunk lists and
// the pack index are still read, to know the chunks and the packs).
Outcome<VerifyReport> VerifySource(const MirrorSource& source, std::string manifestText,
                                   const std::string& publicKey, bool quick, const LineSink& say);

// One line that sums up a report without problems.
std::wstring VerifySummaryText(const VerifyReport& report);

} // namespace Orv::Publisher
