#pragma once
#include "core/outcome.h"
#include "update/http_client.h"
#include "update/manifest.h"
#include "update/update_progress.h"

#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

namespace Orv {

// Fetches objects into .part files in the download folder, with range resume, five attempts over
// the mirrors, and verification and placement through StageObject. One per update run; Get runs on
// many threads at once. What a Get adds to the progress counts only while it succeeds: a failed one
// takes its bytes back out.
class Downloader {
public:
    // Creates the download folder (errors ignored: the first .part then fails to open and says so).
    Downloader(const std::wstring& gameFolder, const std::vector<std::wstring>& mirrors, int mirrorIndex,
               UpdateProgress& progress);

    // Brings the verified file for the entry to destPath. The slot may be null.
    Outcome<Ok> Get(const FileEntry& entry, const std::wstring& destPath, Slot* slot,
                    std::stop_token stopToken) const;

    const std::wstring& DownloadFolder() const { return downloadFolder_; }

    // The mirror that attempt number `attempt` (from 0) asks: the one that served the manifest first, then
    // each next one in turn.
    const std::wstring& MirrorFor(int attempt) const;
    UpdateProgress& Progress() const { return *progress_; }

    // The .part file of an entry's object: "<sha256>[.z].part" in the download folder.
    std::wstring PartPath(const FileEntry& entry) const;

private:
    struct Transfer;
    // How one attempt ended: the file is in place, another attempt may help (the message is the last
    // one), or the Get ends now with the message.
    struct Attempt {
        enum class End { Placed, Retry, Give };
        End end;
        std::wstring message;
    };
    Attempt TryWithPart(const FileEntry& entry, const std::wstring& destPath, const std::wstring& part,
                        const std::wstring& mirror, int attempt, Transfer& transfer,
                        std::stop_token stopToken) const;
    Attempt TryInMemory(const FileEntry& entry, const std::wstring& destPath, const std::wstring& mirror,
                        int attempt, Transfer& transfer, std::stop_token stopToken) const;
    Attempt Staged(const FileEntry& entry, const Outcome<Ok>& staged, std::stop_token stopToken) const;
    Attempt Failed(const FileEntry& entry, const HttpResult& result, const std::wstring& mirror, int attempt,
                   std::stop_token stopToken) const;

    std::wstring downloadFolder_;
    std::unordered_set<std::wstring> partsAtStart_; // the download folder's files when the run began
    const std::vector<std::wstring>* mirrors_;
    int mirrorIndex_;
    UpdateProgress* progress_;
};

// The suffix of the entry's object name: ".c" for a chunk, ".l" for a chunk list, ".index" for the pack
// index, ".z" for a compressed file, else none.
const wchar_t* ObjectSuffix(const FileEntry& entry);

// Where a mirror keeps the entry's object: below "objects/", or below "packs/" for the pack index.
std::wstring ObjectUrlOf(const std::wstring& mirror, const FileEntry& entry);

// Objects of at most this size are received into memory and staged from there, without a .part.
inline constexpr uint64_t kInMemoryObjectMax = 256 * 1024;

// Every transfer has this many attempts, with a pause before each but the first.
inline constexpr int kDownloadAttempts = 5;

// Pause before attempt number `attempt` (1 to 4): 1, 2, 4, 8 seconds.
unsigned RetryPauseMs(int attempt);

// Waits the pause before the attempt in 100 ms steps; false when a stop was requested meanwhile.
bool PauseBeforeAttempt(int attempt, std::stop_token stopToken);

} // namespace Orv
