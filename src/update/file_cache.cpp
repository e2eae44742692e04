#include "update/file_cache.h"

#include "core/paths.h"
#include "core/file_io.h"
#include "core/text.h"

#include <windows.h>

#include <charconv>
#include <fmt/format.h>
#include <string_view>

namespace Orv {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the next white-space delimited unsigned decimal, the way a stream extraction would.
bool ReadUnsigned(std::string_view& line, uint64_t& value) {
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    const char* begin = line.data() + i;
    const char* end = line.data() + line.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    const auto [next, error] = std::from_chars(begin, end, value);
    if (error != std::errc{}) {
        return false;
    }
    line.remove_prefix(static_cast<size_t>(next - line.data()));
    return true;
}

bool ReadWord(std::string_view& line, std::string& word) {
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    size_t end = i;
    while (end < line.size() && !IsBlank(line[end])) {
        ++end;
    }
    if (end == i) {
        return false;
    }
    word.assign(line.substr(i, end - i));
    line.remove_prefix(end);
    return true;
}

} // namespace

FileStat StatFile(const std::wstring& absolutePath) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FileStat stat;
    if (!::GetFileAttributesExW(LongPath(absolutePath).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return stat;
    }
    stat.exists = true;
    stat.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stat.lastWriteTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
    return stat;
}

std::wstring CacheKey(const std::wstring& relativePath) {
    std::wstring key = relativePath;
    if (!key.empty()) {
        ::CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    }
    return key;
}

void FileCache::Load() {
    const auto bytes = ReadFileBytes(path_);
    if (!bytes) {
        return;
    }
    const std::string_view text(*bytes);
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        CacheEntry entry;
        if (!ReadUnsigned(line, entry.size) || !ReadUnsigned(line, entry.lastWriteTime) ||
            !ReadWord(line, entry.sha256)) {
            continue;
        }
        while (!line.empty() && IsBlank(line.front())) {
            line.remove_prefix(1);
        }
        if (line.empty() || entry.sha256.size() != 64) {
            continue;
        }
        entries_[CacheKey(Utf8ToWide(line))] = std::move(entry);
    }
}

void FileCache::Save() {
    std::lock_guard guard(mutex_);
    std::string text;
    for (const auto& [key, entry] : entries_) {
        text += fmt::format("{} {} {} {}\n", entry.size, entry.lastWriteTime, entry.sha256, WideToUtf8(key));
    }
    // Through "filecache.txt.tmp" and one move; when writing fails the previous cache is kept.
    ReplaceFileBytes(path_, text);
}

bool FileCache::IsKnownGood(const FileEntry& entry, const FileStat& stat, const std::string& wantedHash) {
    const std::wstring key = CacheKey(entry.path);
    std::lock_guard guard(mutex_);
    const auto found = entries_.find(key);
    return found != entries_.end() && found->second.size == stat.size &&
           found->second.lastWriteTime == stat.lastWriteTime && found->second.sha256 == wantedHash;
}

void FileCache::Remember(const FileEntry& entry, const FileStat& stat, const std::string& sha256) {
    std::wstring key = CacheKey(entry.path);
    std::lock_guard guard(mutex_);
    entries_[std::move(key)] = CacheEntry{stat.size, stat.lastWriteTime, sha256};
}

size_t FileCache::Count() {
    std::lock_guard guard(mutex_);
    return entries_.size();
}

} // namespace Orv
