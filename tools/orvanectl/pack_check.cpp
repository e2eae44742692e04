#include "orvanectl/pack_check.h"

#include "core/text.h"
#include "orvanectl/pack_files.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "update/pack/pack_index.h"
#include "update/sha256.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <optional>

namespace Orv::Publisher {

ExpectedObject ExpectationOf(const std::string& name, const std::map<std::string, ExpectedObject>& expected) {
    if (const auto found = expected.find(name); found != expected.end()) {
        return found->second;
    }
    ExpectedObject unknown;
    unknown.sha256 = name.substr(0, 64);
    unknown.compressed = name.size() > 64;
    unknown.anySize = true;
    return unknown;
}

std::vector<std::vector<PackedObject>> ObjectsByPack(const PackIndex& index) {
    std::vector<std::vector<PackedObject>> objects(index.packs.size());
    for (const auto& [name, spot] : index.objects) {
        objects[spot.pack].push_back({&name, spot});
    }
    for (std::vector<PackedObject>& pack : objects) {
        std::sort(pack.begin(), pack.end(),
                  [](const PackedObject& a, const PackedObject& b) { return a.spot.offset < b.spot.offset; });
    }
    return objects;
}

std::vector<std::wstring> CheckPack(const MirrorSource& source, const PackFile& pack,
                                    const std::vector<PackedObject>& objects,
                                    const std::map<std::string, ExpectedObject>& expected,
                                    std::stop_token stop, const ByteProgress& progress,
                                    const ContentSink& copy) {
    const ListedFile file{PackName(pack.sha256, DownloadServer::kPackSuffix), pack.size, L"the index"};
    const std::wstring name = source.NameOf(file.name);
    std::vector<std::wstring> problems;
    const auto objectProblem = [&](const PackedObject& object, const std::wstring& why) {
        problems.push_back(
            fmt::format(L"{}: {} at {}: {}", name, Utf8ToWide(*object.name), object.spot.offset, why));
    };
    // Objects whose length is not the listed size are not read.
    std::vector<const PackedObject*> readable;
    for (const PackedObject& object : objects) {
        const ExpectedObject wanted = ExpectationOf(*object.name, expected);
        if (!wanted.anySize && object.spot.length != wanted.zsize) {
            objectProblem(object, fmt::format(L"the index says {} bytes, the manifest {}", object.spot.length,
                                              wanted.zsize));
        } else {
            readable.push_back(&object);
        }
    }

    Sha256 hash;
    std::optional<ObjectBytesCheck> check; // of readable[next], once its first byte has passed
    size_t next = 0;
    uint64_t position = 0;
    const ByteSink sink = [&](const unsigned char* data, size_t length) {
        if (copy) {
            copy(data, length);
        }
        hash.Update(data, length);
        const uint64_t end = position + length;
        while (next < readable.size() && readable[next]->spot.offset < end) {
            const PackSpot& spot = readable[next]->spot;
            const uint64_t from = std::max(spot.offset, position);
            const uint64_t to = std::min(spot.offset + spot.length, end);
            if (!check) {
                check.emplace(ExpectationOf(*readable[next]->name, expected));
            }
            check->Add(data + (from - position), static_cast<size_t>(to - from));
            if (to < spot.offset + spot.length) {
                break; // the object goes on in the next piece
            }
            if (const auto problem = check->Finish()) {
                objectProblem(*readable[next], *problem);
            }
            check.reset();
            ++next;
        }
        position = end;
        return true;
    };
    if (auto problem = source.Read(file, sink, stop, progress)) {
        return {fmt::format(L"{}: {}", name, *problem)};
    }
    const auto digest = hash.Finish();
    if (digest != pack.sha256) {
        problems.push_back(
            fmt::format(L"{}: holds bytes with SHA-256 {}", name, Utf8ToWide(digest.value_or(""))));
    }
    return problems;
}

PackReport CheckPacks(const MirrorSource& source, const PackIndexRow& row,
                      const std::map<std::string, ExpectedObject>& expected, bool quick,
                      const LineSink& say) {
    PackReport report;
    auto index = ReadPackIndex(source, row);
    if (!index) {
        report.problems.push_back(fmt::format(
            L"{}: {}", source.NameOf(PackName(row.sha256, DownloadServer::kPackIndexSuffix)), index.message));
        return report;
    }
    const PackIndex& packs = *index.value;
    const std::vector<std::vector<PackedObject>> objects = ObjectsByPack(packs);
    uint64_t totalBytes = 0;
    for (const PackFile& pack : packs.packs) {
        totalBytes += pack.size;
    }
    report.packs = packs.packs.size();
    report.objects = packs.objects.size();

    std::vector<std::vector<std::wstring>> found(report.packs);
    ProgressMeter meter(L"checked", L"packs", report.packs, quick ? 0 : totalBytes, say);
    RunOnWorkers(report.packs, source.Workers(), [&](size_t pack, std::stop_token stop) {
        const PackFile& file = packs.packs[pack];
        if (!quick) {
            found[pack] = CheckPack(source, file, objects[pack], expected, stop,
                                    [&](uint64_t bytes) { meter.AddBytes(bytes); });
        } else if (const ListedFile listed{PackName(file.sha256, DownloadServer::kPackSuffix), file.size,
                                           L"the index"};
                   auto problem = source.Probe(listed, stop)) {
            found[pack].push_back(fmt::format(L"{}: {}", source.NameOf(listed.name), *problem));
        }
        meter.AddItem();
        return Success();
    });
    meter.Finish();
    for (const std::vector<std::wstring>& problems : found) {
        report.problems.insert(report.problems.end(), problems.begin(), problems.end());
    }
    report.index = std::move(*index.value);
    return report;
}

} // namespace Orv::Publisher
