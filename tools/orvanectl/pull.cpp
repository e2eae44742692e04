#include "orvanectl/pull.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/mirror_source.h"
#include "orvanectl/object_check.h"
#include "orvanectl/pack_check.h"
#include "orvanectl/pack_files.h"
#include "orvanectl/web_source.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "update/manifest.h"
#include "update/sha256.h"
#include "update/trust/release_trust.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>

namespace Orv::Publisher {
namespace {

// One pull: where files come from and go, and what became of them so far.
struct PullRun {
    PullRun(const WebSource& from, std::wstring folder, const LineSink& lines)
        : web(from), local(std::move(folder)), say(lines) {}

    const WebSource& web;
    const FolderSource local;
    const LineSink& say;
    std::mutex lock; // of problems
    std::vector<std::wstring> problems;
    std::atomic<size_t> fetched{0};
    std::atomic<size_t> present{0};
    std::atomic<uint64_t> fetchedBytes{0};
};

// Checks a file as it comes from the source: nothing when it is good, else the problem line, naming the
// file as the source names it. Every byte read also goes to `copy`, when given.
using FileCheck = std::function<std::optional<std::wstring>(
    const MirrorSource& source, const ByteProgress& progress, const ContentSink& copy, std::stop_token stop)>;

void AddProblem(PullRun& run, std::wstring line) {
    run.say(L"bad: " + line);
    const std::lock_guard hold(run.lock);
    run.problems.push_back(std::move(line));
}

// Leaves a verified copy of the file in the folder: the one there when it verifies, else the mirror's,
// written to a temporary name beside its place and moved there once it has verified.
void Bring(PullRun& run, const ListedFile& file, ProgressMeter& meter, const FileCheck& check,
           std::stop_token stop) {
    const std::wstring target = run.local.PathOf(file.name);
    const ByteProgress localProgress = [&](uint64_t bytes) { meter.AddBytes(bytes); };
    if (RegularFileSize(target)) {
        const auto problem = check(run.local, localProgress, {}, stop);
        if (!problem) {
            ++run.present;
            meter.AddItem();
            return;
        }
        run.say(fmt::format(L"in \"{}\": {}; fetching it again", run.local.Where(), *problem));
    }
    if (auto made = MakeFolders(target.substr(0, target.rfind(L'\\'))); !made) {
        AddProblem(run, made.message);
        return;
    }
    auto output = OutputFile::CreateBeside(target);
    if (!output) {
        AddProblem(run, output.message);
        return;
    }
    std::optional<std::wstring> writeFailure;
    const ContentSink copy = [&](const unsigned char* data, size_t length) {
        run.fetchedBytes += length;
        meter.AddBytes(length);
        if (!writeFailure) {
            if (auto written = output.value->Write(data, length); !written) {
                writeFailure = written.message;
            }
        }
    };
    if (auto problem = check(run.web, {}, copy, stop)) {
        AddProblem(run, std::move(*problem));
        return;
    }
    if (writeFailure) {
        AddProblem(run, std::move(*writeFailure));
        return;
    }
    if (auto committed = output.value->Commit(true); !committed) {
        AddProblem(run, committed.message);
        return;
    }
    ++run.fetched;
    meter.AddItem();
}

// Brings the files on the run's workers, with one progress line for them all.
void BringAll(PullRun& run, const wchar_t* things, const std::vector<ListedFile>& files,
              const std::function<FileCheck(size_t index)>& checkOf) {
    if (files.empty()) {
        return;
    }
    uint64_t bytes = 0;
    for (const ListedFile& file : files) {
        bytes += file.size;
    }
    ProgressMeter meter(L"pulled", things, files.size(), bytes, run.say);
    RunOnWorkers(files.size(), run.web.Workers(), [&](size_t index, std::stop_token stop) {
        Bring(run, files[index], meter, checkOf(index), stop);
        return Success();
    });
    meter.Finish();
}

// The check of an object: it holds the expected file.
FileCheck ObjectCheck(const ExpectedObject& expected) {
    return [expected](const MirrorSource& source, const ByteProgress& progress, const ContentSink& copy,
                      std::stop_token stop) -> std::optional<std::wstring> {
        if (auto problem = CheckObject(source, expected, stop, progress, {}, copy)) {
            return fmt::format(L"{}: {}", source.NameOf(ObjectFileOf(expected).name), *problem);
        }
        return std::nullopt;
    };
}

// The objects of the files, once each, by object name.
std::map<std::wstring, ExpectedObject> FileObjects(PullRun& run, const Manifest& manifest) {
    std::map<std::wstring, ExpectedObject> objects;
    for (const FileEntry& entry : manifest.files) {
        if (!IsSha256Hex(entry.sha256)) {
            AddProblem(run,
                       fmt::format(L"manifest.txt: the SHA-256 of \"{}\" is not 64 lower-case hex digits",
                                   PrintablePath(entry.path)));
            continue;
        }
        const ExpectedObject expected{entry.sha256, entry.size, entry.zsize, entry.compressed};
        objects.try_emplace(ObjectFileOf(expected).name, expected);
    }
    return objects;
}

// The chunk lists of the files published in chunks, then their chunks. Adds the chunks to `expected`
// by the name a pack index gives them.
void BringChunks(PullRun& run, const Manifest& manifest, std::map<std::string, ExpectedObject>& expected) {
    std::map<std::string, uint64_t> sizes; // of the files, by sha256
    for (const FileEntry& entry : manifest.files) {
        sizes.try_emplace(entry.sha256, entry.size);
    }
    std::vector<const ChunkedFile*> rows;
    std::vector<ListedFile> lists;
    for (const ChunkedFile& row : manifest.chunkedFiles) {
        if (sizes.contains(row.sha256) && IsSha256Hex(row.listSha256)) {
            rows.push_back(&row);
            lists.push_back(
                {SuffixedObjectName(row.listSha256, DownloadServer::kChunkListSuffix), row.listSize});
        }
    }
    std::vector<std::vector<ChunkListEntry>> chunkLists(rows.size());
    BringAll(run, L"chunk lists", lists, [&](size_t index) -> FileCheck {
        return [&, index](const MirrorSource& source, const ByteProgress&, const ContentSink& copy,
                          std::stop_token stop) -> std::optional<std::wstring> {
            const ChunkedFile& row = *rows[index];
            auto list = ReadChunkList(source, row, sizes.at(row.sha256), stop, copy);
            if (!list) {
                return fmt::format(L"{}: {}", source.NameOf(lists[index].name), list.message);
            }
            chunkLists[index] = std::move(*list.value);
            return std::nullopt;
        };
    });

    std::vector<ExpectedObject> chunks;
    for (const std::vector<ChunkListEntry>& list : chunkLists) {
        for (const ChunkListEntry& chunk : list) {
            const ExpectedObject object{chunk.sha256, chunk.size, chunk.zsize, true,
                                        DownloadServer::kChunkSuffix};
            if (expected.try_emplace(chunk.sha256 + ".c", object).second) {
                chunks.push_back(object);
            }
        }
    }
    std::vector<ListedFile> files;
    for (const ExpectedObject& chunk : chunks) {
        files.push_back(ObjectFileOf(chunk));
    }
    BringAll(run, L"chunks", files, [&](size_t index) { return ObjectCheck(chunks[index]); });
}

// The pack index, then every pack it names.
void BringPacks(PullRun& run, const PackIndexRow& row,
                const std::map<std::string, ExpectedObject>& expected) {
    std::optional<PackIndex> index;
    const ListedFile indexFile{PackName(row.sha256, DownloadServer::kPackIndexSuffix), row.zsize};
    BringAll(run, L"pack indexes", {indexFile}, [&](size_t) -> FileCheck {
        return [&](const MirrorSource& source, const ByteProgress&, const ContentSink& copy,
                   std::stop_token stop) -> std::optional<std::wstring> {
            auto read = ReadPackIndex(source, row, stop, copy);
            if (!read) {
                return fmt::format(L"{}: {}", source.NameOf(indexFile.name), read.message);
            }
            index = std::move(*read.value);
            return std::nullopt;
        };
    });
    if (!index) {
        return;
    }
    const std::vector<std::vector<PackedObject>> objects = ObjectsByPack(*index);
    std::vector<ListedFile> files;
    for (const PackFile& pack : index->packs) {
        files.push_back({PackName(pack.sha256, DownloadServer::kPackSuffix), pack.size, L"the index"});
    }
    BringAll(run, L"packs", files, [&](size_t pack) -> FileCheck {
        return [&, pack](const MirrorSource& source, const ByteProgress& progress, const ContentSink& copy,
                         std::stop_token stop) -> std::optional<std::wstring> {
            const auto problems =
                CheckPack(source, index->packs[pack], objects[pack], expected, stop, progress, copy);
            if (problems.empty()) {
                return std::nullopt;
            }
            return problems.size() == 1
                       ? problems.front()
                       : fmt::format(L"{} (and {} more problems)", problems.front(), problems.size() - 1);
        };
    });
}

} // namespace

Outcome<PullReport> PullMirror(const std::wstring& baseUrl, const std::wstring& folder,
                               const std::string& publicKey, const LineSink& say) {
    using Result = Outcome<PullReport>;
    auto root = AbsolutePath(folder);
    if (!root) {
        return Result::Failure(root.message);
    }
    const std::wstring manifestPath = JoinPath(*root.value, DownloadServer::kManifestName);
    if (auto made = MakeFolders(*root.value); !made) {
        return Result::Failure(made.message);
    }
    if (auto probe = OutputFile::CreateBeside(manifestPath); !probe) {
        return Result::Failure(fmt::format(L"cannot write into \"{}\": {}", *root.value, probe.message));
    }

    const WebSource web(baseUrl);
    auto text = web.ReadManifest({});
    if (!text) {
        return Result::Failure(text.message);
    }
    const ReleaseTrust trust{publicKey, std::nullopt};
    if (auto refused = SignatureRefusal(*text.value, trust)) {
        return Result::Failure(
            fmt::format(L"the manifest of {} is refused: {} Nothing was fetched.", web.Where(), *refused));
    }
    const std::string served = *text.value;
    auto manifest = ParseManifest(std::move(*text.value));
    if (!manifest) {
        return Result::Failure(fmt::format(L"the manifest of {}: {}", web.Where(), manifest.message));
    }
    if (auto refused = ReleaseRefusal(*manifest.value, trust)) {
        return Result::Failure(
            fmt::format(L"the manifest of {} is refused: {} Nothing was fetched.", web.Where(), *refused));
    }

    PullRun run(web, *root.value, say);
    const std::map<std::wstring, ExpectedObject> objects = FileObjects(run, *manifest.value);
    std::vector<ListedFile> files;
    std::vector<ExpectedObject> expectedFiles;
    std::map<std::string, ExpectedObject> packed; // what a pack may hold, by the name the index gives it
    for (const auto& [name, expected] : objects) {
        files.push_back(ObjectFileOf(expected));
        expectedFiles.push_back(expected);
        packed.try_emplace(expected.sha256 + (expected.compressed ? ".z" : ""), expected);
    }
    BringAll(run, L"objects", files, [&](size_t index) { return ObjectCheck(expectedFiles[index]); });
    BringChunks(run, *manifest.value, packed);
    if (manifest.value->packIndex) {
        BringPacks(run, *manifest.value->packIndex, packed);
    }

    PullReport report;
    report.folder = *root.value;
    report.baseUrl = web.Where();
    report.release = manifest.value->release;
    report.fetched = run.fetched;
    report.present = run.present;
    report.fetchedBytes = run.fetchedBytes;
    report.problems = std::move(run.problems);
    if (report.problems.empty()) {
        // Last, and only over a folder that holds all of the release, verified.
        if (auto written = ReplaceFileContents(manifestPath, served); !written) {
            report.problems.push_back(written.message);
        } else {
            report.manifestWritten = true;
        }
    }
    return Result::Success(std::move(report));
}

std::wstring PullSummaryText(const PullReport& report) {
    return fmt::format(L"{} release {} of {} into \"{}\": {} files fetched ({}), {} already there{}",
                       report.manifestWritten ? L"pulled" : L"did not pull", report.release, report.baseUrl,
                       report.folder, report.fetched, SizeText(report.fetchedBytes), report.present,
                       report.manifestWritten ? L"" : L"; manifest.txt was not written");
}

} // namespace Orv::Publisher
