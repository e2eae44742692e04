#include "orvanectl/pack_store.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/pack_files.h"
#include "partners/download_server.h"
#include "update/pack/pack_index.h"
#include "update/sha256.h"

#include <fmt/xchar.h>
#include <zlib.h>

#include <functional>
#include <map>
#include <set>
#include <span>

namespace Orv::Publisher {
namespace {

using Result = Outcome<PackSummary>;

constexpr size_t kReadChunk = 262144;

// The packs of the mirror's current release: its index, and for each pack whether the mirror still
// holds it with its listed size.
struct CurrentPacks {
    PackIndex index;
    std::vector<bool> held;
};

std::optional<CurrentPacks> ReadCurrentPacks(const std::wstring& mirrorRoot, const LineSink& say) {
    const std::wstring manifestPath = JoinPath(mirrorRoot, DownloadServer::kManifestName);
    if (!RegularFileSize(manifestPath)) {
        return std::nullopt;
    }
    auto text = ReadWholeFile(manifestPath, DownloadServer::kManifestLimit);
    auto manifest = text ? ParseManifest(std::move(*text.value)) : Outcome<Manifest>::Failure(text.message);
    if (!manifest) {
        say(fmt::format(L"note: the packs of the mirror's current release are not reused: {}",
                        manifest.message));
        return std::nullopt;
    }
    if (!manifest.value->packIndex) {
        return std::nullopt;
    }
    const PackIndexRow& row = *manifest.value->packIndex;
    auto index = ReadPackIndex(mirrorRoot, row);
    if (!index) {
        say(fmt::format(L"note: the packs of the mirror's current release are not reused: {}: {}",
                        PackName(row.sha256, DownloadServer::kPackIndexSuffix), index.message));
        return std::nullopt;
    }
    CurrentPacks current{std::move(*index.value), {}};
    std::vector<std::wstring> lost;
    for (const PackFile& pack : current.index.packs) {
        const bool held =
            RegularFileSize(PackFilePath(mirrorRoot, pack.sha256, DownloadServer::kPackSuffix)) == pack.size;
        current.held.push_back(held);
        if (!held) {
            lost.push_back(PackName(pack.sha256, DownloadServer::kPackSuffix));
        }
    }
    if (!lost.empty()) {
        say(fmt::format(L"note: {} packs of the mirror's current release are missing or not of their listed "
                        L"size and are not reused ({}{})",
                        lost.size(), lost.front(), lost.size() > 1 ? L", ..." : L""));
    }
    return current;
}

// Where a pack of the current release holds the item's object, when that pack is still on the mirror
// and the object there has the item's length.
const PackSpot* ReusableSpot(const std::optional<CurrentPacks>& current, const PackItem& item) {
    if (!current) {
        return nullptr;
    }
    const auto found = current->index.objects.find(item.name);
    if (found == current->index.objects.end() || !current->held[found->second.pack] ||
        found->second.length != item.length) {
        return nullptr;
    }
    return &found->second;
}

// Renames the finished file to the target unless the mirror holds a file of that name already, which is
// never written again: it must hold what its name says (`problem` says what is wrong with it otherwise).
// True when the file was put in place.
Outcome<bool> PlaceNamed(OutputFile& output, const std::wstring& target, const std::wstring& name,
                         const std::function<std::optional<std::wstring>()>& problem) {
    if (auto made = MakeFolders(ParentFolder(target)); !made) {
        return Outcome<bool>::Failure(made.message);
    }
    bool existed = RegularFileSize(target).has_value();
    if (!existed) {
        if (auto committed = output.CommitAs(target, false, &existed); !committed) {
            return Outcome<bool>::Failure(committed.message);
        }
    }
    if (existed) {
        if (const auto why = problem()) {
            return Outcome<bool>::Failure(fmt::format(
                L"The mirror holds {}, which is damaged: it {}. Delete it and publish again", name, *why));
        }
    }
    return Outcome<bool>::Success(!existed);
}

// Copies the loose objects of the items, one after another, into a new pack and puts it in place as
// `pack`. True when the mirror did not hold that pack yet.
Outcome<bool> WritePack(const std::wstring& mirrorRoot, std::span<const PackItem* const> items,
                        PackFile& pack, ProgressMeter& meter) {
    auto output = OutputFile::CreateBeside(JoinPath(PacksFolder(mirrorRoot), L"new.pack"));
    if (!output) {
        return Outcome<bool>::Failure(output.message);
    }
    Sha256 hash;
    std::vector<unsigned char> buffer(kReadChunk);
    for (const PackItem* item : items) {
        const std::wstring path = PackedObjectPath(mirrorRoot, item->name);
        auto input = InputFile::Open(path);
        if (!input) {
            return Outcome<bool>::Failure(input.message);
        }
        uint64_t copied = 0;
        for (;;) {
            auto read = input.value->Read(buffer.data(), buffer.size());
            if (!read) {
                return Outcome<bool>::Failure(read.message);
            }
            copied += *read.value;
            if (*read.value == 0 || copied > item->length) {
                break;
            }
            hash.Update(buffer.data(), *read.value);
            if (auto written = output.value->Write(buffer.data(), *read.value); !written) {
                return Outcome<bool>::Failure(written.message);
            }
        }
        if (copied != item->length) {
            return Outcome<bool>::Failure(fmt::format(
                L"\"{}\" changed while it was being published: it is no longer {} bytes; publish again", path,
                item->length));
        }
        meter.AddBytes(item->length);
        meter.AddItem();
    }
    const auto digest = hash.Finish();
    if (!digest) {
        return Outcome<bool>::Failure(L"The system's SHA-256 failed");
    }
    pack = {*digest, output.value->Written()};
    const std::wstring target = PackFilePath(mirrorRoot, *digest, DownloadServer::kPackSuffix);
    return PlaceNamed(*output.value, target, PackName(*digest, DownloadServer::kPackSuffix),
                      [&]() -> std::optional<std::wstring> {
                          const auto size = RegularFileSize(target);
                          if (size != pack.size) {
                              return fmt::format(L"is {} bytes, not {}", size.value_or(0), pack.size);
                          }
                          if (Sha256OfFile(SystemPath(target), {}) != pack.sha256) {
                              return L"holds other bytes than its name says";
                          }
                          return std::nullopt;
                      });
}

// Writes the index object of the text (a zlib stream, best compression) unless the mirror holds it.
Outcome<PackIndexRow> WriteIndex(const std::wstring& mirrorRoot, const std::string& text) {
    using IndexResult = Outcome<PackIndexRow>;
    const auto digest = Sha256Hex(text);
    std::string stream(compressBound(static_cast<uLong>(text.size())), '\0');
    uLongf streamSize = static_cast<uLongf>(stream.size());
    if (!digest || compress2(reinterpret_cast<Bytef*>(stream.data()), &streamSize,
                             reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                             Z_BEST_COMPRESSION) != Z_OK) {
        return IndexResult::Failure(digest ? L"zlib failed" : L"The system's SHA-256 failed");
    }
    const std::wstring target = PackFilePath(mirrorRoot, *digest, DownloadServer::kPackIndexSuffix);
    if (auto made = MakeFolders(ParentFolder(target)); !made) {
        return IndexResult::Failure(made.message);
    }
    auto output = OutputFile::CreateBeside(target);
    if (!output) {
        return IndexResult::Failure(output.message);
    }
    if (auto written = output.value->Write(stream.data(), streamSize); !written) {
        return IndexResult::Failure(written.message);
    }
    // An index of that name that holds the text is kept, whatever zlib made it.
    PackIndexRow row{*digest, text.size(), streamSize};
    auto placed =
        PlaceNamed(*output.value, target, PackName(*digest, DownloadServer::kPackIndexSuffix),
                   [&]() -> std::optional<std::wstring> {
                       row.zsize = RegularFileSize(target).value_or(0);
                       auto existing = ReadPackIndex(mirrorRoot, row);
                       return existing ? std::nullopt : std::optional<std::wstring>(existing.message);
                   });
    if (!placed) {
        return IndexResult::Failure(placed.message);
    }
    return IndexResult::Success(row);
}

} // namespace

std::vector<PackItem> PackItems(std::vector<ReleaseRow> rows,
                                const std::vector<std::vector<ChunkListEntry>>& chunkLists) {
    SortReleaseRows(rows);
    std::vector<PackItem> items;
    std::set<std::string> named;
    for (const ReleaseRow& row : rows) {
        std::string name = row.sha256 + (row.compressed ? DownloadServer::kCompressedSuffixUtf8 : "");
        if (row.kind != kKindLauncher && row.zsize > 0 && row.zsize <= kPackObjectMax &&
            named.insert(name).second) {
            items.push_back({std::move(name), row.zsize});
        }
    }
    for (const std::vector<ChunkListEntry>& list : chunkLists) {
        for (const ChunkListEntry& chunk : list) {
            std::string name = chunk.sha256 + ".c";
            if (named.insert(name).second) {
                items.push_back({std::move(name), chunk.zsize});
            }
        }
    }
    return items;
}

Outcome<PackSummary> WritePacks(const std::wstring& mirrorRoot, const std::vector<PackItem>& items,
                                const LineSink& say) {
    PackSummary summary;
    if (items.empty()) {
        return Result::Success(summary);
    }
    const auto current = ReadCurrentPacks(mirrorRoot, say);
    std::vector<PackFile> packs;
    std::vector<PackEntry> entries;
    std::map<uint32_t, uint32_t> kept; // a current pack's number: its number in the new index
    std::vector<const PackItem*> fresh;
    uint64_t freshBytes = 0;
    for (const PackItem& item : items) {
        if (const PackSpot* spot = ReusableSpot(current, item)) {
            const auto [it, added] = kept.try_emplace(spot->pack, static_cast<uint32_t>(packs.size()));
            if (added) {
                packs.push_back(current->index.packs[spot->pack]);
            }
            entries.push_back({item.name, {it->second, spot->offset, spot->length}});
            ++summary.reused;
        } else if (item.length <= kPackMax) {
            fresh.push_back(&item);
            freshBytes += item.length;
        }
    }

    if (!fresh.empty()) {
        if (auto made = MakeFolders(PacksFolder(mirrorRoot)); !made) {
            return Result::Failure(made.message);
        }
        ProgressMeter meter(L"packed", L"objects", fresh.size(), freshBytes, say);
        for (size_t start = 0; start < fresh.size();) {
            size_t end = start;
            for (uint64_t size = 0; end < fresh.size() && size + fresh[end]->length <= kPackMax; ++end) {
                size += fresh[end]->length;
            }
            PackFile pack;
            const auto written =
                WritePack(mirrorRoot, std::span(fresh).subspan(start, end - start), pack, meter);
            if (!written) {
                meter.Finish();
                return Result::Failure(written.message);
            }
            const auto number = static_cast<uint32_t>(packs.size());
            packs.push_back(pack);
            uint64_t offset = 0;
            for (; start < end; ++start) {
                entries.push_back({fresh[start]->name, {number, offset, fresh[start]->length}});
                offset += fresh[start]->length;
            }
            if (*written.value) {
                ++summary.written;
                summary.writtenBytes += pack.size;
            }
        }
        meter.Finish();
    }

    summary.objects = entries.size();
    summary.packs = packs.size();
    const std::string text = PackIndexText(packs, std::move(entries));
    if (auto parsed = ParsePackIndex(text); !parsed) {
        return Result::Failure(
            fmt::format(L"A launcher would not read the new pack index: {}", parsed.message));
    }
    auto index = WriteIndex(mirrorRoot, text);
    if (!index) {
        return Result::Failure(index.message);
    }
    summary.index = *index.value;
    return Result::Success(std::move(summary));
}

} // namespace Orv::Publisher
