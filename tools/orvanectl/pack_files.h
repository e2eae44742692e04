#pragma once
#include "core/outcome.h"
#include "orvanectl/mirror_source.h"
#include "orvanectl/object_check.h"
#include "update/manifest.h"
#include "update/pack/pack_index.h"

#include <string>

// The packs of a mirror: "<mirror root>\packs\<2 hex>\<sha256>.pack", small objects and chunks back
// to back, and the pack index "<sha256>.index" (a zlib stream of its text) that the manifest's row
// "p" names.
namespace Orv::Publisher {

// "<root>\packs"
std::wstring PacksFolder(const std::wstring& mirrorRoot);

// The file of a pack (DownloadServer::kPackSuffix) or of a pack index (kPackIndexSuffix).
std::wstring PackFilePath(const std::wstring& mirrorRoot, const std::string& sha256, const wchar_t* suffix);

// Its name relative to the mirror root, "packs/<2 hex>/<sha256><suffix>", for messages.
std::wstring PackName(const std::string& sha256, const wchar_t* suffix);

// The loose object file of a name an index holds ("<sha256>", "<sha256>.z" or "<sha256>.c").
std::wstring PackedObjectPath(const std::wstring& mirrorRoot, const std::string& name);

// The index the row names, read as a launcher takes it: its object has the row's object size and
// inflates to text of the row's size and SHA-256, which parses. The failure says what is wrong (the
// index's name not included).
Outcome<PackIndex> ReadPackIndex(const std::wstring& mirrorRoot, const PackIndexRow& row);
// The same from any source; `copy`, when given, gets every byte of the index object in order.
Outcome<PackIndex> ReadPackIndex(const MirrorSource& source, const PackIndexRow& row,
                                 std::stop_token stop = {}, const ContentSink& copy = {});

} // namespace Orv::Publisher
