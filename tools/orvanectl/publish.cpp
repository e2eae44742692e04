#include "orvanectl/publish.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/chunk_store.h"
#include "orvanectl/file_system.h"
#include "orvanectl/glob.h"
#include "orvanectl/object_store.h"
#include "orvanectl/pack_store.h"
#include "orvanectl/publish_checks.h"
#include "orvanectl/release_manifest.h"
#include "orvanectl/signing_key.h"
#include "orvanectl/tree_walk.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "partners/game_client.h"
#include "update/patch/chunker.h"
#include "update/manifest.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <map>
#include <set>

namespace Orv::Publisher {
namespace {

// Release paths longer than this draw a warning.
constexpr size_t kLongReleasePath = 200;

struct ReleaseFile {
    std::wstring source; // absolute
    std::wstring path;   // relative, "/" separators
    char kind = '-';
    uint64_t listedSize = 0;
    ContentDigest digest;
};

std::wstring SlashPath(std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

struct Collected {
    std::vector<ReleaseFile> files;
    std::wstring mirrorRoot;
    std::wstring versionFile; // the client's version file at the top of the release; empty when none
    std::wstring notes;       // the release path of the notes file; empty when none
};

// The files of the release with their kinds, before hashing.
Outcome<Collected> CollectFiles(const PublishRequest& request, const LineSink& say) {
    using Result = Outcome<Collected>;
    auto game = AbsolutePath(request.gameFolder);
    auto mirror = AbsolutePath(request.mirrorRoot);
    if (!game || !mirror) {
        return Result::Failure(game ? mirror.message : game.message);
    }
    if (!IsDirectory(SystemPath(*game.value))) {
        return Result::Failure(fmt::format(L"The game folder \"{}\" does not exist", *game.value));
    }
    if (CompareIgnoringCase(*game.value, *mirror.value) == 0) {
        return Result::Failure(L"The mirror root must not be the game folder itself");
    }
    std::wstring launcher;
    if (!request.launcherFile.empty()) {
        auto absolute = AbsolutePath(request.launcherFile);
        if (!absolute) {
            return Result::Failure(absolute.message);
        }
        launcher = *absolute.value;
        if (!RegularFileSize(launcher)) {
            return Result::Failure(fmt::format(L"The launcher file \"{}\" does not exist", launcher));
        }
    }

    std::vector<std::wstring> skip{JoinPath(*game.value, kDataFolderName)};
    if (IsSameOrInside(*mirror.value, *game.value)) {
        skip.push_back(*mirror.value);
    }
    auto listing = ListTree(*game.value, skip);
    if (!listing) {
        return Result::Failure(listing.message);
    }
    for (const std::wstring& loop : listing.value->loops) {
        say(fmt::format(L"note: \"{}\" leads back to a folder above it and was not entered again", loop));
    }

    std::vector<Glob> keep;
    for (const std::wstring& pattern : request.keep) {
        keep.emplace_back(pattern);
    }
    std::vector<bool> keepUsed(keep.size(), false);
    Collected collected;
    collected.mirrorRoot = *mirror.value;
    for (const FoundFile& found : listing.value->files) {
        ReleaseFile file;
        file.source = JoinPath(*game.value, found.relative);
        file.path = SlashPath(found.relative);
        file.listedSize = found.size;
        const bool isLauncherName = CompareIgnoringCase(file.path, kLauncherName) == 0;
        if (isLauncherName && !launcher.empty()) {
            continue; // replaced by the --launcher file
        }
        for (size_t i = 0; i < keep.size(); ++i) {
            if (keep[i].Matches(file.path)) {
                keepUsed[i] = true;
                file.kind = kKindKeep;
            }
        }
        if (isLauncherName) {
            file.kind = kKindLauncher;
        }
        collected.files.push_back(std::move(file));
    }
    if (!launcher.empty()) {
        collected.files.push_back(
            {launcher, kLauncherName, kKindLauncher, RegularFileSize(launcher).value_or(0), {}});
    }
    for (size_t i = 0; i < keep.size(); ++i) {
        if (!keepUsed[i]) {
            say(fmt::format(L"note: --keep \"{}\" matches no file", keep[i].Text()));
        }
    }
    if (collected.files.empty()) {
        return Result::Failure(fmt::format(L"The game folder \"{}\" holds no files", *game.value));
    }

    std::vector<NamedFile> named;
    for (const ReleaseFile& file : collected.files) {
        named.push_back({file.source, file.path});
        // A kept file is never replaced, so the version written into it is never compared.
        if (CompareIgnoringCase(file.path, GameClient::kVersionFile) == 0 && file.kind != kKindKeep) {
            collected.versionFile = file.source;
        }
    }
    if (auto checked = CheckReleasePaths(named); !checked) {
        return Result::Failure(checked.message);
    }
    // Launchers place such files in any folder, but a game that opens them with plain paths fails once the
    // game folder and the path pass 260 characters.
    for (const ReleaseFile& file : collected.files) {
        if (file.path.size() > kLongReleasePath) {
            const size_t folder = file.path.size() < 258 ? 258 - file.path.size() : 0;
            say(fmt::format(L"warning: \"{}\" is {} characters long; in a game folder of more than {} "
                            L"characters the game itself may not open it",
                            file.path, file.path.size(), folder));
        }
    }
    if (!request.notes.empty()) {
        auto notes = ReleaseNotesPath(request.notes, named);
        if (!notes) {
            return Result::Failure(notes.message);
        }
        collected.notes = std::move(*notes.value);
    }
    if (!request.launch.empty()) {
        const std::wstring launch = SlashPath(request.launch);
        const bool listed =
            std::any_of(collected.files.begin(), collected.files.end(),
                        [&](const ReleaseFile& file) { return CompareIgnoringCase(file.path, launch) == 0; });
        if (!listed) {
            say(fmt::format(L"note: --launch \"{}\" names no file of the release; launchers start {} instead",
                            request.launch, GameClient::kDefaultLaunch));
        }
    }
    return Result::Success(std::move(collected));
}

Outcome<Ok> HashFiles(std::vector<ReleaseFile>& files, const LineSink& say, std::stop_token cancel) {
    uint64_t total = 0;
    for (const ReleaseFile& file : files) {
        total += file.listedSize;
    }
    ProgressMeter meter(L"hashed", L"files", files.size(), total, say);
    auto hashed = RunOnWorkers(
        files.size(), WorkerCount(),
        [&](size_t index, std::stop_token stop) {
            auto digest =
                DigestFile(files[index].source, stop, [&](uint64_t bytes) { meter.AddBytes(bytes); });
            if (!digest) {
                return Failure(digest.message);
            }
            files[index].digest = std::move(*digest.value);
            meter.AddItem();
            return Success();
        },
        cancel);
    meter.Finish();
    return hashed;
}

// What a stopped publish reports; manifest.txt is then as it was.
Outcome<Ok> Stopped() {
    return Failure(L"stopped by Ctrl+C; manifest.txt is as it was");
}

// The new release as the launcher's parser would read it, for comparing with the mirror's.
Manifest NewRelease(const PublishRequest& request, const Collected& collected,
                    const std::wstring& clientVersion) {
    Manifest release;
    release.release = request.release;
    release.clientVersion = clientVersion;
    release.server = request.server;
    release.launch = request.launch;
    release.notes = collected.notes;
    for (const ReleaseFile& file : collected.files) {
        FileEntry entry;
        entry.path = ReleasePathOf(WideToUtf8(file.path));
        entry.sha256 = file.digest.sha256;
        entry.size = file.digest.size;
        entry.kind = file.kind;
        release.files.push_back(std::move(entry));
    }
    return release;
}

} // namespace

Outcome<PublishSummary> Publish(const PublishRequest& request, const LineSink& say, std::stop_token cancel) {
    using Result = Outcome<PublishSummary>;
    // The key is read before anything is written: a bad key leaves the mirror as it was.
    std::optional<SigningKey> signingKey;
    if (!request.signingKeyFile.empty()) {
        auto key = ReadSigningKey(request.signingKeyFile);
        if (!key) {
            return Result::Failure(key.message);
        }
        signingKey = std::move(*key.value);
    }
    // The mirror root is checked before any game file is read: a mistake there shows at once.
    auto mirrorRootPath = AbsolutePath(request.mirrorRoot);
    if (!mirrorRootPath) {
        return Result::Failure(mirrorRootPath.message);
    }
    if (auto usable = CheckMirrorRoot(*mirrorRootPath.value); !usable) {
        return Result::Failure(usable.message);
    }
    auto collected = CollectFiles(request, say);
    if (!collected) {
        return Result::Failure(collected.message);
    }
    std::vector<ReleaseFile>& files = collected.value->files;
    const std::wstring& mirrorRoot = collected.value->mirrorRoot;
    const auto clientVersion = ReleaseClientVersion(request.clientVersion, collected.value->versionFile);
    if (!clientVersion) {
        return Result::Failure(clientVersion.message);
    }
    if (request.clientVersion.empty()) {
        say(fmt::format(L"client version {}, as {} says", *clientVersion.value, GameClient::kVersionFile));
    }
    const std::optional<Manifest> served = ServedRelease(mirrorRoot);
    if (auto order = CheckReleaseOrder(served, mirrorRoot, request.release); !order) {
        return Result::Failure(order.message);
    }
    if (auto hashed = HashFiles(files, say, cancel); !hashed) {
        return Result::Failure(cancel.stop_requested() ? Stopped().message : hashed.message);
    }
    if (auto same = CheckSameRelease(
            served, mirrorRoot, NewRelease(request, *collected.value, *clientVersion.value), request.force);
        !same) {
        return Result::Failure(same.message);
    }

    // One object per distinct content: reuse the mirror's, write the missing ones.
    PublishSummary summary;
    summary.release = request.release;
    summary.mirrorRoot = mirrorRoot;
    std::map<std::string, StoredObject> objects;
    std::vector<const ReleaseFile*> missing;
    uint64_t missingBytes = 0;
    for (const ReleaseFile& file : files) {
        summary.fileBytes += file.digest.size;
        if (objects.contains(file.digest.sha256)) {
            continue;
        }
        const auto existing = FindObject(mirrorRoot, file.digest.sha256);
        objects[file.digest.sha256] = existing.value_or(StoredObject{});
        if (!existing) {
            missing.push_back(&file);
            missingBytes += file.digest.size;
        }
    }
    summary.files = files.size();
    summary.objects = objects.size();
    summary.reused = objects.size() - missing.size();
    if (auto made = MakeFolders(ObjectsFolder(mirrorRoot)); !made) {
        return Result::Failure(made.message);
    }
    if (!missing.empty()) {
        std::vector<StoredObject> stored(missing.size());
        ProgressMeter meter(L"wrote", L"objects", missing.size(), missingBytes, say);
        auto written = RunOnWorkers(
            missing.size(), WorkerCount(),
            [&](size_t index, std::stop_token stop) {
                const ReleaseFile& file = *missing[index];
                auto object = WriteObject(mirrorRoot, file.source, file.digest, stop,
                                          [&](uint64_t bytes) { meter.AddBytes(bytes); });
                if (!object) {
                    return Failure(object.message);
                }
                stored[index] = *object.value;
                meter.AddItem();
                return Success();
            },
            cancel);
        meter.Finish();
        if (!written) {
            return Result::Failure(cancel.stop_requested() ? Stopped().message : written.message);
        }
        for (size_t i = 0; i < missing.size(); ++i) {
            objects[missing[i]->digest.sha256] = stored[i];
            summary.writtenBytes += stored[i].zsize;
        }
        summary.written = missing.size();
    }

    // Large contents are published in chunks too, so that a launcher with an older version rebuilds
    // them from the chunks it lacks.
    std::vector<ReleaseChunkRow> chunkRows;
    std::vector<std::vector<ChunkListEntry>> chunkLists; // in the order of chunkRows
    std::set<std::string> chunked;
    for (const ReleaseFile& release : files) {
        const ReleaseFile* file = &release;
        if (file->digest.size < kChunkedFileMin || !chunked.insert(file->digest.sha256).second) {
            continue;
        }
        const std::string& sha256 = file->digest.sha256;
        auto written = WriteChunks(mirrorRoot, file->source, file->digest, WorkerCount(), cancel);
        if (cancel.stop_requested()) {
            return Result::Failure(Stopped().message);
        }
        if (!written) {
            return Result::Failure(written.message);
        }
        say(fmt::format(L"chunks of {}: {}, {} new ({})", file->path, written.value->chunks,
                        written.value->written, SizeText(written.value->writtenBytes)));
        chunkRows.push_back({sha256, written.value->listSha256, written.value->listSize});
        chunkLists.push_back(std::move(written.value->list));
        ++summary.chunkedFiles;
        summary.chunksWritten += written.value->written;
        summary.chunkBytesWritten += written.value->writtenBytes;
    }

    std::vector<ReleaseRow> rows;
    for (const ReleaseFile& file : files) {
        const StoredObject& object = objects[file.digest.sha256];
        rows.push_back({WideToUtf8(file.path), file.digest.sha256, file.digest.size, object.zsize,
                        object.compressed, file.kind});
    }
    // Packs follow the objects and chunks they copy, and come before the manifest that names their index.
    std::optional<PackIndexRow> packIndex;
    if (cancel.stop_requested()) {
        return Result::Failure(Stopped().message);
    }
    if (request.packs) {
        auto packed = WritePacks(mirrorRoot, PackItems(rows, chunkLists), say);
        if (!packed) {
            return Result::Failure(packed.message);
        }
        packIndex = packed.value->index;
        summary.packedObjects = packed.value->objects;
        summary.packs = packed.value->packs;
        summary.packsWritten = packed.value->written;
        summary.packBytesWritten = packed.value->writtenBytes;
    }

    const uint64_t now = UtcNow();
    ReleaseHeader header{request.release,       *clientVersion.value, request.server,
                         request.launch,        UtcTimestamp(now),    L"",
                         collected.value->notes};
    if (signingKey && request.validDays > 0) {
        header.expires = UtcTimestamp(now + static_cast<uint64_t>(request.validDays) * kTimePerDay);
    }
    std::string text = ManifestText(header, std::move(rows), chunkRows, packIndex);
    if (signingKey) {
        auto signedText = SignManifestText(text, *signingKey);
        if (!signedText) {
            return Result::Failure(signedText.message);
        }
        text = std::move(*signedText.value);
    }
    auto parsed = ParseManifest(text);
    if (!parsed) {
        return Result::Failure(
            fmt::format(L"The launcher would not read the new manifest: {}", parsed.message));
    }
    const auto& readIndex = parsed.value->packIndex;
    if (readIndex.has_value() != packIndex.has_value() ||
        (packIndex && (readIndex->sha256 != packIndex->sha256 || readIndex->size != packIndex->size ||
                       readIndex->zsize != packIndex->zsize))) {
        return Result::Failure(L"The launcher would not read the new manifest's pack index row");
    }
    // The last moment a stop leaves the mirror serving what it served.
    if (cancel.stop_requested()) {
        return Result::Failure(Stopped().message);
    }
    if (auto replaced = ReplaceFileContents(JoinPath(mirrorRoot, DownloadServer::kManifestName), text);
        !replaced) {
        return Result::Failure(replaced.message);
    }
    return Result::Success(std::move(summary));
}

std::wstring SummaryText(const PublishSummary& summary) {
    std::wstring text =
        fmt::format(L"published release {} to \"{}\": {} files, {}; {} distinct objects, {} written ({}), "
                    L"{} reused",
                    summary.release, summary.mirrorRoot, summary.files, SizeText(summary.fileBytes),
                    summary.objects, summary.written, SizeText(summary.writtenBytes), summary.reused);
    if (summary.chunkedFiles > 0) {
        text += fmt::format(L"; {} files in chunks, {} chunk objects written ({})", summary.chunkedFiles,
                            summary.chunksWritten, SizeText(summary.chunkBytesWritten));
    }
    if (summary.packs > 0) {
        text += fmt::format(L"; {} objects in {} packs, {} packs written ({})", summary.packedObjects,
                            summary.packs, summary.packsWritten, SizeText(summary.packBytesWritten));
    }
    return text;
}

} // namespace Orv::Publisher
