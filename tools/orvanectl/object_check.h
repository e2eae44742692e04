#pragma once
#include "orvanectl/mirror_source.h"
#include "orvanectl/object_store.h"
#include "orvanectl/zlib_stream.h"
#include "update/manifest.h"
#include "update/patch/chunk_list.h"
#include "update/sha256.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv::Publisher {

// What manifest.txt says about one object.
struct ExpectedObject {
    std::string sha256;
    uint64_t size = 0;  // bytes of the file it holds
    uint64_t zsize = 0; // bytes of the object
    bool compressed = false;
    // The object's suffix when it is not a file's object: ".c" for a chunk (always compressed).
    const wchar_t* suffix = nullptr;
    // The sizes are not known (an object no row names): only the SHA-256 of what it holds is checked.
    bool anySize = false;
};

// Receives every piece of what an object holds, in order.
using ContentSink = std::function<void(const unsigned char*, size_t)>;

// Checks the bytes of one object as they come, wherever they lie: what they hold (inflated when
// compressed) must be exactly the expected file. Bytes after the end of a zlib stream are accepted.
class ObjectBytesCheck {
public:
    explicit ObjectBytesCheck(const ExpectedObject& expected, ContentSink content = {});
    ObjectBytesCheck(const ObjectBytesCheck&) = delete;
    ObjectBytesCheck& operator=(const ObjectBytesCheck&) = delete;

    // Takes the next bytes of the object; false once further bytes cannot change the outcome.
    bool Add(const unsigned char* data, size_t length);
    // What is wrong with the bytes taken, or nothing when they hold the expected file.
    std::optional<std::wstring> Finish();

private:
    bool AddContent(const unsigned char* data, size_t length);

    const ExpectedObject expected_;
    const ContentSink observe_;
    std::optional<InflateStream> inflate_; // for a compressed object
    InflateState state_ = InflateState::More;
    Sha256 hash_;
    uint64_t contentSize_ = 0;
    bool done_ = false;
};

// The object's file as the release lists it: "objects/<2 hex>/<sha256><suffix>" of zsize bytes.
ListedFile ObjectFileOf(const ExpectedObject& expected);

// What is wrong with the object, or nothing when it has the expected size and holds exactly the
// expected file (as ObjectBytesCheck checks it). Streams the object from the source; progress gets the
// length of each piece read, and `content`, when given, every piece of what the object holds, in
// order. `copy`, when given, gets every byte of the object in order (the whole object is then read,
// also when its first bytes show it is bad).
std::optional<std::wstring> CheckObject(const MirrorSource& source, const ExpectedObject& expected,
                                        std::stop_token stop, const ByteProgress& progress,
                                        const ContentSink& content = {}, const ContentSink& copy = {});

// The chunk list the row names, read from the source: it has the row's size and SHA-256 and describes
// the `fileSize` bytes of its file. The failure says what is wrong (the list's name not included).
// `copy` as for CheckObject.
Outcome<std::vector<ChunkListEntry>> ReadChunkList(const MirrorSource& source, const ChunkedFile& row,
                                                   uint64_t fileSize, std::stop_token stop,
                                                   const ContentSink& copy = {});

} // namespace Orv::Publisher
