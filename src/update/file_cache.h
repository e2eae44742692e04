#pragma once
#include "update/manifest.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace Orv {

// What the file system says about one path.
struct FileStat {
    bool exists = false; // the query worked and the path is not a directory
    uint64_t size = 0;
    uint64_t lastWriteTime = 0; // raw FILETIME ticks
};

FileStat StatFile(const std::wstring& absolutePath);

// The cache key of a relative path: the path lower-cased by the system (CharLowerBuffW).
std::wstring CacheKey(const std::wstring& relativePath);

struct CacheEntry {
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;
    std::string sha256;
};

// Hashes of earlier runs, kept in .orvane\filecache.txt: "size lastWriteTime sha256 path" per line.
class FileCache {
public:
    explicit FileCache(std::wstring path) : path_(std::move(path)) {}

    // Reads the file; an unreadable file or a bad line is simply no entry. Not locked: call before
    // any worker starts.
    void Load();
    // Writes every entry through "filecache.txt.tmp" and one move over the file. Failures are silent.
    void Save();
    // The entry's key is known with the same size, time and hash.
    bool IsKnownGood(const FileEntry& entry, const FileStat& stat, const std::string& wantedHash);
    void Remember(const FileEntry& entry, const FileStat& stat, const std::string& sha256);

    size_t Count();

private:
    std::wstring path_;
    std::mutex mutex_;
    std::unordered_map<std::wstring, CacheEntry> entries_;
};

} // namespace Orv
