#include "update/pack/pack_source.h"

#include "core/file_io.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/pack/pack_plan.h"
#include "update/sha256.h"

#include <fmt/xchar.h>

namespace Orv {
namespace {

// The index text, when the file holds exactly the text the row names.
std::optional<std::string> ReadIndexText(const std::wstring& path, const PackIndexRow& row) {
    std::optional<std::string> text = ReadFileBytes(path);
    if (!text || text->size() != row.size || Sha256Hex(*text) != row.sha256) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<PackIndex> LoadPackIndex(const Manifest& manifest, size_t packable,
                                       const Downloader& downloader, std::stop_token stopToken) {
    if (!manifest.packIndex) {
        return std::nullopt;
    }
    const PackIndexRow& row = *manifest.packIndex;
    if (!IndexPays(row.zsize, packable)) {
        Log(fmt::format(L"packs: not used for {} objects (their index has {} bytes)", packable, row.zsize));
        return std::nullopt;
    }
    if (row.size > kPackIndexLimit) {
        Log(fmt::format(L"packs: the index of {} bytes is refused; objects are fetched loose", row.size));
        return std::nullopt;
    }
    FileEntry entry;
    entry.path = L"pack index";
    entry.sha256 = row.sha256;
    entry.size = row.size;
    entry.zsize = row.zsize;
    entry.compressed = true;
    entry.object = ObjectKind::PackIndex;
    const std::wstring path =
        JoinPath(downloader.DownloadFolder(), Utf8ToWide(row.sha256) + DownloadServer::kPackIndexSuffix);
    std::optional<std::string> text = ReadIndexText(path, row);
    if (!text) {
        UpdateProgress& progress = downloader.Progress();
        progress.bytesTotal.fetch_add(row.zsize);
        const Outcome<Ok> fetched = downloader.Get(entry, path, nullptr, stopToken);
        if (!fetched) {
            progress.bytesTotal.fetch_sub(row.zsize);
            Log(fmt::format(L"packs: the index could not be fetched ({}); objects are fetched loose",
                            fetched.message));
            return std::nullopt;
        }
        text = ReadIndexText(path, row);
    }
    Outcome<PackIndex> index =
        text ? ParsePackIndex(*text) : Outcome<PackIndex>::Failure(L"it cannot be read");
    if (!index) {
        Log(fmt::format(L"packs: the index is refused ({}); objects are fetched loose", index.message));
        return std::nullopt;
    }
    Log(fmt::format(L"packs: {} objects in {} packs", index.value->objects.size(),
                    index.value->packs.size()));
    return std::move(*index.value);
}

} // namespace Orv
