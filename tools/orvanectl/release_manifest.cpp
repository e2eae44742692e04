#include "orvanectl/release_manifest.h"

#include "core/app_state.h"
#include "core/text.h"

#include <windows.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>

namespace Orv::Publisher {

void SortReleaseRows(std::vector<ReleaseRow>& rows) {
    std::sort(rows.begin(), rows.end(),
              [](const ReleaseRow& a, const ReleaseRow& b) { return a.path < b.path; });
}

std::string ManifestText(const ReleaseHeader& header, std::vector<ReleaseRow> rows,
                         const std::vector<ReleaseChunkRow>& chunkRows,
                         const std::optional<PackIndexRow>& packIndex) {
    SortReleaseRows(rows);
    std::string text = fmt::format("format\t1\nrelease\t{}\nclientversion\t{}\n", header.release,
                                   WideToUtf8(header.clientVersion));
    if (!header.server.empty()) {
        text += fmt::format("server\t{}\n", WideToUtf8(header.server));
    }
    if (!header.launch.empty()) {
        text += fmt::format("launch\t{}\n", WideToUtf8(header.launch));
    }
    if (!header.notes.empty()) {
        text += fmt::format("notes\t{}\n", WideToUtf8(header.notes));
    }
    text +=
        fmt::format("launcher\t{}\ncreated\t{}\n", WideToUtf8(kLauncherVersion), WideToUtf8(header.created));
    if (!header.expires.empty()) {
        text += fmt::format("expires\t{}\n", WideToUtf8(header.expires));
    }
    for (const ReleaseRow& row : rows) {
        text += fmt::format("f\t{}\t{}\t{}\t{}\t{}\t{}\n", row.sha256, row.size, row.zsize,
                            row.compressed ? "z" : "-", row.kind, row.path);
    }
    for (const ReleaseChunkRow& row : chunkRows) {
        text += fmt::format("c\t{}\t{}\t{}\n", row.sha256, row.listSha256, row.listSize);
    }
    if (packIndex) {
        text += fmt::format("p\t{}\t{}\t{}\n", packIndex->sha256, packIndex->size, packIndex->zsize);
    }
    return text;
}

uint64_t UtcNow() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::wstring UtcTimestamp(uint64_t time) {
    const FILETIME file{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME now{};
    ::FileTimeToSystemTime(&file, &now);
    return fmt::format(L"{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", now.wYear, now.wMonth, now.wDay, now.wHour,
                       now.wMinute, now.wSecond);
}

} // namespace Orv::Publisher
