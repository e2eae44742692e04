#pragma once
#include "core/outcome.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Orv {

// What an entry's object on the server is: a file's ("<sha256>" or "<sha256>.z"), one chunk of a file
// published in chunks ("<sha256>.c", always a zlib stream), a chunk list ("<sha256>.l", text), or the
// pack index ("packs/<2 hex>/<sha256>.index", a zlib stream of text).
enum class ObjectKind : uint8_t { File, Chunk, ChunkList, PackIndex };

// One file of a release.
struct FileEntry {
    std::wstring path;  // relative to the game folder, with backslashes
    uint64_t size = 0;  // bytes of the finished file
    std::string sha256; // 64 lower-case hex digits of the finished file
    uint64_t zsize = 0; // bytes of the object on the server
    bool compressed = false;
    char kind = '-'; // 's': the launcher itself; 'k': only has to exist
    // Not from a manifest row: what else a patch update fetches for a file published in chunks (`path`
    // names that file).
    ObjectKind object = ObjectKind::File;
};

// A file that is also published in chunks (row "c"): the chunk list object "<listSha256>.l" of
// `listSize` bytes rebuilds the file whose sha256 is `sha256`.
struct ChunkedFile {
    std::string sha256;
    std::string listSha256;
    uint64_t listSize = 0;
};

// The pack index of a release (row "p"): the SHA-256 and size of the index text, and the size of its
// object "packs/<2 hex>/<sha256>.index" (a zlib stream of the text).
struct PackIndexRow {
    std::string sha256;
    uint64_t size = 0;
    uint64_t zsize = 0;
};

inline constexpr char kKindLauncher = 's';
inline constexpr char kKindKeep = 'k';

// One release as described by manifest.txt.
struct Manifest {
    int32_t release = 0;
    std::wstring clientVersion;
    std::wstring server;
    std::wstring launch;
    std::wstring notes; // the release's notes: a file of the release, as written; empty: none
    std::wstring launcher;
    std::wstring created;
    std::wstring expires; // UTC "YYYY-MM-DDTHH:MM:SSZ" after which a signed release is refused
    std::vector<FileEntry> files;
    std::vector<ChunkedFile> chunkedFiles; // rows "c", in their order
    size_t badChunkRows = 0;               // rows "c" that do not parse, ignored
    std::optional<PackIndexRow> packIndex; // row "p" (the last one)
    size_t badPackRows = 0;                // rows "p" that do not parse, ignored
    std::string text;                      // the whole input, unchanged
};

// Parses manifest.txt (format 1). Never returns a partial manifest. A file row whose path is not
// UTF-8 or is refused (update/release_path.h) fails the parse.
Outcome<Manifest> ParseManifest(std::string text);

// A path as a manifest writes it (UTF-8, "/" or "\\"), with backslashes.
std::wstring ReleasePathOf(std::string_view utf8);

// The path with every control character shown as U+FFFD, for messages and log lines.
std::wstring PrintablePath(std::wstring path);

// Why the path (as a manifest writes it, "/" or "\\") names no file of the release: a refused path, or no
// file of the release in any letter case; nothing when it names one.
std::optional<std::wstring> ReleaseFileProblem(const Manifest& manifest, std::wstring path);

// Why the manifest's `launch` cannot be started (a refused path, or no file of the release), or
// nothing when it names a file of the release (any letter case). Not used for an empty `launch`.
std::optional<std::wstring> LaunchProblem(const Manifest& manifest);

} // namespace Orv
