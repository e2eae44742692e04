#pragma once
#include "orvanectl/object_check.h"
#include "orvanectl/progress.h"
#include "update/manifest.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace Orv::Publisher {

struct PackReport {
    size_t packs = 0;   // named in the index
    size_t objects = 0; // object rows of the index
    // One line per problem, "packs/<2 hex>/<name>: <reason>".
    std::vector<std::wstring> problems;
};

// Checks the pack index the row names and every pack it names: the index object has the row's
// size and inflates to the row's text, which parses; each pack exists with its listed size, its
// SHA-256 is its name, and the bytes of each of its objects are a good object of the object's name:
// for a name in `expected` (by object name, "<sha256>[.z|.c]") one of that entry's size holding its
// file, for any other name one holding content of the SHA-256 the name gives. Each pack is read once,
// streaming, on the workers; progress goes to `say`.
PackReport CheckPacks(const std::wstring& mirrorRoot, const PackIndexRow& row,
                      const std::map<std::string, ExpectedObject>& expected, const LineSink& say);

} // namespace Orv::Publisher
