#include "update/manifest.h"

#include "core/text.h"
#include "update/release_path.h"

#include <fmt/xchar.h>

#include <windows.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

namespace Orv {
namespace {

std::wstring ParseFailure(const std::wstring& detail) {
    return fmt::format(L"{} ({})", Pick(L"Could not read the file list", L"Sürüm listesi okunamadı"), detail);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal the way the standard conversions do (leading white space, an optional sign,
// digits up to the first other byte), but insists on at least one digit and on the range.
template <class T>
std::optional<T> ReadNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t firstDigit = i;
    uint64_t magnitude = 0;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (kMax - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (i == firstDigit) {
        return std::nullopt;
    }
    if constexpr (std::is_signed_v<T>) {
        const uint64_t limit = negative ? uint64_t{1} + static_cast<uint64_t>(std::numeric_limits<T>::max())
                                        : static_cast<uint64_t>(std::numeric_limits<T>::max());
        if (magnitude > limit) {
            return std::nullopt;
        }
        return negative ? static_cast<T>(-static_cast<int64_t>(magnitude)) : static_cast<T>(magnitude);
    } else {
        if (negative && magnitude != 0) {
            return std::nullopt;
        }
        if (magnitude > std::numeric_limits<T>::max()) {
            return std::nullopt;
        }
        return static_cast<T>(magnitude);
    }
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

// The hash names the object on the server and its .part file on disk, so it is only ever hex digits.
// Upper-case digits pass here; they never match a digest, so such a file fails verification.
bool IsHexHash(std::string_view hash) {
    return hash.size() == 64 && hash.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

// The hash of a chunk list or pack index, which a launcher compares with digests as they are.
bool IsLowerHexHash(std::string_view hash) {
    return hash.size() == 64 && hash.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A file row: "f", sha256, size, zsize, "z" or other, kind, path. Returns the failure detail.
std::optional<std::wstring> ParseFileRow(const std::vector<std::string_view>& fields, Manifest& manifest) {
    if (fields.size() != 7 || !IsHexHash(fields[1]) || fields[5].size() != 1) {
        return L"f";
    }
    FileEntry entry;
    entry.sha256 = std::string(fields[1]);
    const auto size = ReadNumber<uint64_t>(fields[2]);
    const auto zsize = ReadNumber<uint64_t>(fields[3]);
    if (!size || !zsize) {
        return L"f";
    }
    entry.size = *size;
    entry.zsize = *zsize;
    entry.compressed = fields[4] == "z";
    entry.kind = fields[5][0];
    entry.path = ReleasePathOf(fields[6]);
    if (!IsValidUtf8(fields[6]) || IsRefusedPath(entry.path)) {
        return L"path " + PrintablePath(entry.path);
    }
    manifest.files.push_back(std::move(entry));
    return std::nullopt;
}

// A chunk row: "c", the file's sha256, the chunk list's sha256, the list's size. A row of another shape
// costs only bytes (the file is downloaded whole), so it is counted, not refused.
void ParseChunkRow(const std::vector<std::string_view>& fields, Manifest& manifest) {
    const auto listSize = fields.size() == 4 ? ReadNumber<uint64_t>(fields[3]) : std::nullopt;
    if (!listSize || !IsLowerHexHash(fields[1]) || !IsLowerHexHash(fields[2])) {
        ++manifest.badChunkRows;
        return;
    }
    manifest.chunkedFiles.push_back({std::string(fields[1]), std::string(fields[2]), *listSize});
}

// The pack index row: "p", the index text's sha256, its size, the size of its object. Like a chunk row, a
// row of another shape only costs requests (objects come loose), so it is counted, not refused.
void ParsePackRow(const std::vector<std::string_view>& fields, Manifest& manifest) {
    const auto size = fields.size() == 4 ? ReadNumber<uint64_t>(fields[2]) : std::nullopt;
    const auto zsize = fields.size() == 4 ? ReadNumber<uint64_t>(fields[3]) : std::nullopt;
    if (!size || !zsize || !IsLowerHexHash(fields[1])) {
        ++manifest.badPackRows;
        return;
    }
    manifest.packIndex = PackIndexRow{std::string(fields[1]), *size, *zsize};
}

// A key line. Returns the failure detail for a number key without a readable number.
std::optional<std::wstring> ParseKeyLine(std::string_view key, std::string_view value, Manifest& manifest,
                                         int32_t& format) {
    if (key == "format" || key == "release") {
        const auto number = ReadNumber<int32_t>(value);
        if (!number) {
            return std::wstring(key == "format" ? L"format" : L"release");
        }
        (key == "format" ? format : manifest.release) = *number;
    } else if (key == "clientversion") {
        manifest.clientVersion = Utf8ToWide(value);
    } else if (key == "server") {
        manifest.server = Utf8ToWide(value);
    } else if (key == "launch") {
        manifest.launch = Utf8ToWide(value);
    } else if (key == "notes") {
        manifest.notes = Utf8ToWide(value);
    } else if (key == "launcher") {
        manifest.launcher = Utf8ToWide(value);
    } else if (key == "created") {
        manifest.created = Utf8ToWide(value);
    } else if (key == "expires") {
        manifest.expires = Utf8ToWide(value);
    }
    return std::nullopt;
}

} // namespace

std::wstring ReleasePathOf(std::string_view utf8) {
    std::wstring path = Utf8ToWide(utf8);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring PrintablePath(std::wstring path) {
    for (wchar_t& c : path) {
        if (c < L' ') {
            c = L'\uFFFD';
        }
    }
    return path;
}

std::optional<std::wstring> ReleaseFileProblem(const Manifest& manifest, std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (IsRefusedPath(path)) {
        return std::wstring(L"not a path inside the game folder");
    }
    for (const FileEntry& file : manifest.files) {
        if (::CompareStringOrdinal(file.path.c_str(), static_cast<int>(file.path.size()), path.c_str(),
                                   static_cast<int>(path.size()), TRUE) == CSTR_EQUAL) {
            return std::nullopt;
        }
    }
    return std::wstring(L"no file of the release");
}

std::optional<std::wstring> LaunchProblem(const Manifest& manifest) {
    return ReleaseFileProblem(manifest, manifest.launch);
}

Outcome<Manifest> ParseManifest(std::string text) {
    Manifest manifest;
    int32_t format = 0;
    size_t position = 0;
    const std::string_view all(text);
    while (position < all.size()) {
        size_t end = all.find('\n', position);
        if (end == std::string_view::npos) {
            end = all.size();
        }
        std::string_view line = all.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto fields = SplitTabs(line);
        std::optional<std::wstring> failure;
        if (fields[0] == "f") {
            failure = ParseFileRow(fields, manifest);
        } else if (fields[0] == "c") {
            ParseChunkRow(fields, manifest);
        } else if (fields[0] == "p") {
            ParsePackRow(fields, manifest);
        } else if (fields.size() == 2) {
            failure = ParseKeyLine(fields[0], fields[1], manifest, format);
        }
        if (failure) {
            return Outcome<Manifest>::Failure(ParseFailure(*failure));
        }
    }
    if (format != 1) {
        return Outcome<Manifest>::Failure(ParseFailure(fmt::format(L"format {}", format)));
    }
    if (manifest.files.empty()) {
        return Outcome<Manifest>::Failure(ParseFailure(L"empty"));
    }
    manifest.text = std::move(text);
    return Outcome<Manifest>::Success(std::move(manifest));
}

} // namespace Orv
