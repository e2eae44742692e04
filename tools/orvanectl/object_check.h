#pragma once
#include "orvanectl/object_store.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace Orv::Publisher {

// What manifest.txt says about one object.
struct ExpectedObject {
    std::string sha256;
    uint64_t size = 0;  // bytes of the file it holds
    uint64_t zsize = 0; // bytes of the object
    bool compressed = false;
    // The object's suffix when it is not a file's object: ".c" for a chunk (always compressed).
    const wchar_t* suffix = nullptr;
};

// What is wrong with the object file, or nothing when it has the expected size and holds exactly the
// expected file (inflated when compressed; bytes after the end of the zlib stream are accepted).
// Streams the object; progress gets the length of each piece read, and `content`, when given, every
// piece of what the object holds, in order.
std::optional<std::wstring>
CheckObject(const std::wstring& mirrorRoot, const ExpectedObject& expected, std::stop_token stop,
            const ByteProgress& progress,
            const std::function<void(const unsigned char*, size_t)>& content = {});

} // namespace Orv::Publisher
