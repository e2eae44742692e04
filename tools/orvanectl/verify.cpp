#include "orvanectl/verify.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/object_check.h"
#include "orvanectl/pack_check.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "update/patch/chunk_list.h"
#include "update/manifest.h"
#include "update/trust/release_signature.h"
#include "update/trust/release_trust.h"
#include "update/sha256.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <map>

namespace Orv::Publisher {
namespace {

bool IsLowerHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// What is wrong with a file published in chunks: its list object, each chunk object, and whether the
// chunks in list order rebuild the file (with `quick` each chunk is only probed). `chunks` gets the
// list's chunks when it is good.
std::vector<std::wstring> CheckChunkedFile(const MirrorSource& source, const ChunkedFile& row,
                                           uint64_t fileSize, bool quick, std::vector<ChunkListEntry>& chunks,
                                           std::stop_token stop) {
    const std::wstring listName =
        source.NameOf(SuffixedObjectName(row.listSha256, DownloadServer::kChunkListSuffix));
    auto list = ReadChunkList(source, row, fileSize, stop);
    if (!list) {
        return {fmt::format(L"{}: {}", listName, list.message)};
    }
    chunks = *list.value;
    std::vector<std::wstring> problems;
    Sha256 whole;
    for (const ChunkListEntry& chunk : chunks) {
        const ExpectedObject expected{chunk.sha256, chunk.size, chunk.zsize, true,
                                      DownloadServer::kChunkSuffix};
        const std::optional<std::wstring> problem =
            quick ? source.Probe(ObjectFileOf(expected), stop)
                  : CheckObject(source, expected, stop, {}, [&](const unsigned char* data, size_t length) {
                        whole.Update(data, length);
                    });
        if (problem) {
            problems.push_back(fmt::format(L"{}: {}", source.NameOf(ObjectFileOf(expected).name), *problem));
        }
    }
    if (!quick && problems.empty() && whole.Finish() != row.sha256) {
        problems.push_back(fmt::format(L"{}: its chunks do not rebuild the file", listName));
    }
    return problems;
}

struct Listed {
    ExpectedObject expected;
    std::wstring firstPath;
};

// A bad object names at most this many of the game paths that use it.
constexpr size_t kNamedUsers = 3;

// The game paths of the files of each content, by its SHA-256.
using Users = std::map<std::string, std::vector<std::wstring>>;

// " (used by \"a\", \"b\", \"c\" and 4 more)" for the content; empty when no file uses it.
std::wstring UsedBy(const Users& users, const std::string& sha256) {
    const auto it = users.find(sha256);
    if (it == users.end() || it->second.empty()) {
        return {};
    }
    const std::vector<std::wstring>& paths = it->second;
    std::wstring text = L" (used by ";
    for (size_t i = 0; i < paths.size() && i < kNamedUsers; ++i) {
        text += fmt::format(L"{}\"{}\"", i == 0 ? L"" : L", ", PrintablePath(paths[i]));
    }
    if (paths.size() > kNamedUsers) {
        text += fmt::format(L" and {} more", paths.size() - kNamedUsers);
    }
    return text + L")";
}

} // namespace

Outcome<VerifyReport> VerifyMirror(const std::wstring& mirrorRoot, const std::string& publicKey,
                                   const LineSink& say) {
    using Result = Outcome<VerifyReport>;
    auto root = AbsolutePath(mirrorRoot);
    if (!root) {
        return Result::Failure(root.message);
    }
    const FolderSource source(*root.value);
    auto text = source.ReadManifest({});
    if (!text) {
        return Result::Failure(text.message);
    }
    return VerifySource(source, std::move(*text.value), publicKey, false, say);
}

Outcome<VerifyReport> VerifySource(const MirrorSource& source, std::string manifestText,
                                   const std::string& publicKey, bool quick, const LineSink& say) {
    using Result = Outcome<VerifyReport>;
    auto text = Outcome<std::string>::Success(std::move(manifestText));
    VerifyReport report;
    report.quick = quick;
    const ReleaseTrust trust{publicKey, std::nullopt};
    if (!publicKey.empty()) {
        report.signature =
            SignatureRefusal(*text.value, trust) ? SignatureCheck::Fails : SignatureCheck::Holds;
    } else if (FindSignatureLine(*text.value)) {
        report.signature = SignatureCheck::NotChecked;
    }
    auto manifest = ParseManifest(std::move(*text.value));
    if (!manifest) {
        return Result::Failure(manifest.message);
    }
    if (report.signature == SignatureCheck::Holds) {
        report.refusal = ReleaseRefusal(*manifest.value, trust).value_or(L"");
    }

    report.mirrorRoot = source.Where();
    report.release = manifest.value->release;
    report.files = manifest.value->files.size();
    std::map<std::wstring, Listed> objects; // by object name
    Users users;
    for (const FileEntry& entry : manifest.value->files) {
        users[entry.sha256].push_back(entry.path);
    }
    for (const FileEntry& entry : manifest.value->files) {
        const std::wstring name = ObjectName(entry.sha256, entry.compressed);
        if (!IsLowerHex(entry.sha256)) {
            report.problems.push_back(
                fmt::format(L"{}: the SHA-256 of \"{}\" is not 64 lower-case hex digits", name, entry.path));
            continue;
        }
        const ExpectedObject expected{entry.sha256, entry.size, entry.zsize, entry.compressed};
        const auto [it, added] = objects.try_emplace(name, Listed{expected, entry.path});
        if (!added && (it->second.expected.size != entry.size || it->second.expected.zsize != entry.zsize)) {
            report.problems.push_back(fmt::format(L"{}: \"{}\" and \"{}\" list it with different sizes", name,
                                                  it->second.firstPath, entry.path));
        }
    }

    std::vector<std::pair<std::wstring, ExpectedObject>> work;
    for (const auto& [name, listed] : objects) {
        work.emplace_back(name, listed.expected);
        report.objectBytes += listed.expected.zsize;
    }
    report.objects = work.size();
    std::vector<std::optional<std::wstring>> found(work.size());
    ProgressMeter meter(L"checked", L"objects", work.size(), quick ? 0 : report.objectBytes, say);
    RunOnWorkers(work.size(), source.Workers(), [&](size_t index, std::stop_token stop) {
        found[index] = quick ? source.Probe(ObjectFileOf(work[index].second), stop)
                             : CheckObject(source, work[index].second, stop,
                                           [&](uint64_t bytes) { meter.AddBytes(bytes); });
        meter.AddItem();
        return Success();
    });
    meter.Finish();
    for (size_t i = 0; i < work.size(); ++i) {
        if (found[i]) {
            report.problems.push_back(fmt::format(L"{}: {}{}", source.NameOf(work[i].first), *found[i],
                                                  UsedBy(users, work[i].second.sha256)));
        }
    }

    std::map<std::string, uint64_t> sizes; // of the files, by sha256
    for (const FileEntry& entry : manifest.value->files) {
        sizes.try_emplace(entry.sha256, entry.size);
    }
    std::vector<const ChunkedFile*> chunked;
    for (const ChunkedFile& row : manifest.value->chunkedFiles) {
        if (sizes.contains(row.sha256)) {
            chunked.push_back(&row);
        }
    }
    std::vector<std::vector<std::wstring>> chunkProblems(chunked.size());
    std::vector<std::vector<ChunkListEntry>> chunkLists(chunked.size());
    RunOnWorkers(chunked.size(), source.Workers(), [&](size_t index, std::stop_token stop) {
        const ChunkedFile& row = *chunked[index];
        chunkProblems[index] =
            CheckChunkedFile(source, row, sizes.at(row.sha256), quick, chunkLists[index], stop);
        return Success();
    });
    report.chunkedFiles = chunked.size();
    for (size_t i = 0; i < chunked.size(); ++i) {
        report.chunks += chunkLists[i].size();
        for (const std::wstring& problem : chunkProblems[i]) {
            report.problems.push_back(problem + UsedBy(users, chunked[i]->sha256));
        }
    }
    if (manifest.value->badChunkRows > 0) {
        report.problems.push_back(
            fmt::format(L"manifest.txt: {} chunk rows do not parse", manifest.value->badChunkRows));
    }

    if (manifest.value->badPackRows > 0) {
        report.problems.push_back(
            fmt::format(L"manifest.txt: {} pack index rows do not parse", manifest.value->badPackRows));
    }
    if (manifest.value->packIndex) {
        // What the release says each object a pack may hold is, by the name the index gives it.
        std::map<std::string, ExpectedObject> expected;
        for (const auto& object : objects) {
            const ExpectedObject& listed = object.second.expected;
            expected.try_emplace(listed.sha256 + (listed.compressed ? ".z" : ""), listed);
        }
        for (const std::vector<ChunkListEntry>& list : chunkLists) {
            for (const ChunkListEntry& chunk : list) {
                expected.try_emplace(chunk.sha256 + ".c",
                                     ExpectedObject{chunk.sha256, chunk.size, chunk.zsize, true,
                                                    DownloadServer::kChunkSuffix});
            }
        }
        PackReport packs = CheckPacks(source, *manifest.value->packIndex, expected, quick, say);
        report.packs = packs.packs;
        report.packIndex = std::move(packs.index);
        report.problems.insert(report.problems.end(), packs.problems.begin(), packs.problems.end());
    }
    std::sort(report.problems.begin(), report.problems.end());
    return Result::Success(std::move(report));
}

std::wstring SignatureText(const VerifyReport& report) {
    switch (report.signature) {
    case SignatureCheck::None:
        return L"signature: none";
    case SignatureCheck::NotChecked:
        return L"signature: present, not checked (no --key)";
    case SignatureCheck::Holds:
        return report.refusal.empty() ? L"signature: holds"
                                      : fmt::format(L"signature: holds; {}", report.refusal);
    case SignatureCheck::Fails:
        return L"signature: does not hold: the manifest is not signed with this key";
    }
    return L"";
}

std::wstring VerifySummaryText(const VerifyReport& report) {
    const std::wstring chunks = report.chunkedFiles == 0 ? std::wstring()
                                                         : fmt::format(L", {} files in {} chunks",
                                                                       report.chunkedFiles, report.chunks);
    const std::wstring packs = report.packs == 0 ? std::wstring() : fmt::format(L", {} packs", report.packs);
    return fmt::format(L"{} release {} in \"{}\": {} files, {} objects ({}){}{}, all good",
                       report.quick ? L"checked (presence and sizes only)" : L"verified", report.release,
                       report.mirrorRoot, report.files, report.objects, SizeText(report.objectBytes), chunks,
                       packs);
}

} // namespace Orv::Publisher
