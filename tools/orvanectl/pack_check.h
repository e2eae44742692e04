#pragma once
#include "orvanectl/mirror_source.h"
#include "orvanectl/object_check.h"
#include "orvanectl/progress.h"
#include "update/manifest.h"
#include "update/pack/pack_index.h"

#include <cstddef>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv::Publisher {

struct PackReport {
    size_t packs = 0;   // named in the index
    size_t objects = 0; // object rows of the index
    // One line per problem, "<name of the pack or index>: <reason>", named as the source names files.
    std::vector<std::wstring> problems;
    std::optional<PackIndex> index; // when it could be read
};

// An object of a pack, by the name the index gives it.
struct PackedObject {
    const std::string* name;
    PackSpot spot;
};

// The objects of each pack of the index (by the pack's position), in offset order.
std::vector<std::vector<PackedObject>> ObjectsByPack(const PackIndex& index);

// What the bytes of the object of this name must be: the entry of `expected` (by object name,
// "<sha256>[.z|.c]"), or for another name any object holding content of the SHA-256 the name gives.
ExpectedObject ExpectationOf(const std::string& name, const std::map<std::string, ExpectedObject>& expected);

// Checks one pack, read once from the source, streaming: it has its listed size, its SHA-256 is its
// name, and the bytes of each of its objects (`objects`, in offset order) are a good object of the
// object's name (ExpectationOf). Returns the problems. `copy` as for CheckObject.
std::vector<std::wstring> CheckPack(const MirrorSource& source, const PackFile& pack,
                                    const std::vector<PackedObject>& objects,
                                    const std::map<std::string, ExpectedObject>& expected,
                                    std::stop_token stop, const ByteProgress& progress,
                                    const ContentSink& copy = {});

// Checks the pack index the row names and every pack it names: the index object has the row's
// size and inflates to the row's text, which parses; then each pack as CheckPack does, on the source's
// workers; progress goes to `say`. With `quick` each pack is only probed for its presence and size.
PackReport CheckPacks(const MirrorSource& source, const PackIndexRow& row,
                      const std::map<std::string, ExpectedObject>& expected, bool quick, const LineSink& say);

} // namespace Orv::Publisher
