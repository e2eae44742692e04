#include "orvanectl/pack_check.h"

#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/pack_files.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "update/pack/pack_index.h"
#include "update/sha256.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <optional>

namespace Orv::Publisher {
namespace {

constexpr size_t kReadChunk = 262144;

struct PackedObject {
    const std::string* name;
    PackSpot spot;
};

// What the bytes of the object must be: the listed object, or for a name the release does not use,
// any object holding content of the SHA-256 the name gives.
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

// Reads the pack once, hashing it and checking each of its objects (in offset order) as its bytes
// pass. Returns the problems.
std::vector<std::wstring> CheckPack(const std::wstring& mirrorRoot, const PackFile& pack,
                                    const std::vector<PackedObject>& objects,
                                    const std::map<std::string, ExpectedObject>& expected,
                                    std::stop_token stop, const ByteProgress& progress) {
    const std::wstring name = PackName(pack.sha256, DownloadServer::kPackSuffix);
    const std::wstring path = PackFilePath(mirrorRoot, pack.sha256, DownloadServer::kPackSuffix);
    const auto size = RegularFileSize(path);
    if (!size) {
        return {fmt::format(L"{}: missing", name)};
    }
    if (*size != pack.size) {
        return {fmt::format(L"{}: is {} bytes, the index says {}", name, *size, pack.size)};
    }
    auto input = InputFile::Open(path);
    if (!input) {
        return {fmt::format(L"{}: {}", name, input.message)};
    }
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
    std::vector<unsigned char> buffer(kReadChunk);
    std::optional<ObjectBytesCheck> check; // of readable[next], once its first byte has passed
    size_t next = 0;
    uint64_t position = 0;
    while (position < pack.size) {
        if (stop.stop_requested()) {
            return {fmt::format(L"{}: not checked", name)};
        }
        auto read = input.value->Read(buffer.data(), buffer.size());
        if (!read) {
            return {fmt::format(L"{}: {}", name, read.message)};
        }
        if (*read.value == 0) {
            break;
        }
        progress(*read.value);
        hash.Update(buffer.data(), *read.value);
        const uint64_t end = position + *read.value;
        while (next < readable.size() && readable[next]->spot.offset < end) {
            const PackSpot& spot = readable[next]->spot;
            const uint64_t from = std::max(spot.offset, position);
            const uint64_t to = std::min(spot.offset + spot.length, end);
            if (!check) {
                check.emplace(ExpectationOf(*readable[next]->name, expected));
            }
            check->Add(buffer.data() + (from - position), static_cast<size_t>(to - from));
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
    }
    if (position != pack.size) {
        return {
            fmt::format(L"{}: ended after {} of its {} bytes while it was read", name, position, pack.size)};
    }
    const auto digest = hash.Finish();
    if (digest != pack.sha256) {
        problems.push_back(
            fmt::format(L"{}: holds bytes with SHA-256 {}", name, Utf8ToWide(digest.value_or(""))));
    }
    return problems;
}

} // namespace

PackReport CheckPacks(const std::wstring& mirrorRoot, const PackIndexRow& row,
                      const std::map<std::string, ExpectedObject>& expected, const LineSink& say) {
    PackReport report;
    auto index = ReadPackIndex(mirrorRoot, row);
    if (!index) {
        report.problems.push_back(
            fmt::format(L"{}: {}", PackName(row.sha256, DownloadServer::kPackIndexSuffix), index.message));
        return report;
    }
    const PackIndex& packs = *index.value;
    std::vector<std::vector<PackedObject>> objects(packs.packs.size());
    for (const auto& [name, spot] : packs.objects) {
        objects[spot.pack].push_back({&name, spot});
    }
    uint64_t totalBytes = 0;
    for (size_t pack = 0; pack < objects.size(); ++pack) {
        std::sort(objects[pack].begin(), objects[pack].end(),
                  [](const PackedObject& a, const PackedObject& b) { return a.spot.offset < b.spot.offset; });
        totalBytes += packs.packs[pack].size;
    }
    report.packs = packs.packs.size();
    report.objects = packs.objects.size();

    std::vector<std::vector<std::wstring>> found(report.packs);
    ProgressMeter meter(L"checked", L"packs", report.packs, totalBytes, say);
    RunOnWorkers(report.packs, WorkerCount(), [&](size_t pack, std::stop_token stop) {
        found[pack] = CheckPack(mirrorRoot, packs.packs[pack], objects[pack], expected, stop,
                                [&](uint64_t bytes) { meter.AddBytes(bytes); });
        meter.AddItem();
        return Success();
    });
    meter.Finish();
    for (const std::vector<std::wstring>& problems : found) {
        report.problems.insert(report.problems.end(), problems.begin(), problems.end());
    }
    return report;
}

} // namespace Orv::Publisher
