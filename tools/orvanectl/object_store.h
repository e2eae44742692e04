#pragma once
#include "core/outcome.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

// The objects of a mirror: "<mirror root>\objects\<first two hex digits>\<sha256>", the file as it
// is, or "<sha256>.z", a zlib stream of it.
namespace Orv::Publisher {

// Called with the length of each piece of source read.
using ByteProgress = std::function<void(uint64_t)>;

struct StoredObject {
    bool compressed = false;
    uint64_t zsize = 0; // bytes of the object file
};

struct ContentDigest {
    std::string sha256; // 64 lower-case hex digits
    uint64_t size = 0;
};

// "<root>\objects"
std::wstring ObjectsFolder(const std::wstring& mirrorRoot);

// The object file's absolute path.
std::wstring ObjectFilePath(const std::wstring& mirrorRoot, const std::string& sha256, bool compressed);

// The object file of a chunk or a chunk list: the suffix is ".c" or ".l" (or ".z", or none).
std::wstring SuffixedObjectPath(const std::wstring& mirrorRoot, const std::string& sha256,
                                const wchar_t* suffix);

// The object's name relative to the mirror root, as "objects/<2 hex>/<sha256>[.z]".
std::wstring ObjectName(const std::string& sha256, bool compressed);

// An object of the content already in the mirror, in either form (the compressed one when both are).
std::optional<StoredObject> FindObject(const std::wstring& mirrorRoot, const std::string& sha256);

// Reads the file once and returns its SHA-256 and length.
Outcome<ContentDigest> DigestFile(const std::wstring& path, std::stop_token stop,
                                  const ByteProgress& progress);

// Writes the object of the file into the mirror under a temporary name and renames it into place:
// compressed (zlib, best compression) when that is smaller than the file, else the file as it is.
// The file is read again and must still have the digest. An object that appears meanwhile is kept.
Outcome<StoredObject> WriteObject(const std::wstring& mirrorRoot, const std::wstring& path,
                                  const ContentDigest& digest, std::stop_token stop,
                                  const ByteProgress& progress);

} // namespace Orv::Publisher
