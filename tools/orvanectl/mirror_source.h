#pragma once
#include "core/outcome.h"
#include "orvanectl/object_store.h"
#include "orvanectl/zlib_stream.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

// Where the files of a mirror are read from: a folder on disk (FolderSource), or a base URL read the
// way a launcher meets it (WebSource, web_source.h). The checks of verify and pull read through it.
namespace Orv::Publisher {

// One file of a mirror as the release lists it.
struct ListedFile {
    std::wstring name; // below the mirror root, with "/": "objects/ab/<sha256>.z", "packs/ab/<sha256>.pack"
    uint64_t size = 0;
    const wchar_t* listedBy = L"the manifest"; // what gives the size, for messages
};

class MirrorSource {
public:
    virtual ~MirrorSource() = default;

    // The folder (absolute) or the base URL (ending in "/").
    virtual const std::wstring& Where() const = 0;
    // How a problem names a file: its name below a folder, its whole URL on the web.
    virtual std::wstring NameOf(const std::wstring& name) const = 0;
    // How many files are read at once.
    virtual unsigned Workers() const = 0;
    // manifest.txt as a launcher takes it.
    virtual Outcome<std::string> ReadManifest(std::stop_token stop) const = 0;
    // Reads the file, which must hold exactly file.size bytes, handing its bytes to the sink in order
    // until the sink returns false, and the length of each piece read to the progress. Nothing when the
    // file is there with its size (and could be read as far as the sink wanted); else what is wrong with
    // it ("missing", "is 12 bytes, the manifest says 10", "answered HTTP 403", ...).
    virtual std::optional<std::wstring> Read(const ListedFile& file, const ByteSink& sink,
                                             std::stop_token stop, const ByteProgress& progress) const = 0;
    // Whether the file is there with its size, without reading it: nothing when it is, else what is wrong.
    virtual std::optional<std::wstring> Probe(const ListedFile& file, std::stop_token stop) const = 0;
};

// A mirror in a folder.
class FolderSource final : public MirrorSource {
public:
    explicit FolderSource(std::wstring absoluteRoot) : root_(std::move(absoluteRoot)) {}

    const std::wstring& Where() const override { return root_; }
    std::wstring NameOf(const std::wstring& name) const override { return name; }
    unsigned Workers() const override;
    Outcome<std::string> ReadManifest(std::stop_token stop) const override;
    std::optional<std::wstring> Read(const ListedFile& file, const ByteSink& sink, std::stop_token stop,
                                     const ByteProgress& progress) const override;
    std::optional<std::wstring> Probe(const ListedFile& file, std::stop_token stop) const override;

    // The file's absolute path.
    std::wstring PathOf(const std::wstring& name) const;

private:
    std::wstring root_;
};

// "objects/<2 hex>/<sha256><suffix>", the suffix "" , ".z", ".c" or ".l".
std::wstring SuffixedObjectName(const std::string& sha256, const wchar_t* suffix);

// The bytes of the file read whole into memory (the size it must have is at most a few MiB).
Outcome<std::string> ReadWhole(const MirrorSource& source, const ListedFile& file, std::stop_token stop);

} // namespace Orv::Publisher
