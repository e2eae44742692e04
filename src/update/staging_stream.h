#pragma once
#include "core/handles.h"
#include "core/outcome.h"
#include "update/manifest.h"
#include "update/sha256.h"
#include "update/worker_buffers.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

namespace Orv {

// Stages one object that arrives piece by piece: a compressed object is inflated, a stored one taken as it
// is, into the staging file beside the destination, while its bytes are counted and hashed; Finish
// verifies the file and moves it over the destination in one step. Nothing is held whole in memory, and
// a file that would grow beyond its listed size stops at once.
class StagingStream {
public:
    StagingStream(const FileEntry& entry, const std::wstring& destPath);
    ~StagingStream();
    StagingStream(const StagingStream&) = delete;
    StagingStream& operator=(const StagingStream&) = delete;

    // Takes the next bytes of the object. False once it cannot become the file (it is corrupt, a write
    // failed, or a stop was requested): Finish then says why, and the rest need not be fed.
    bool Feed(std::span<const unsigned char> bytes, const std::stop_token& stopToken);

    // Verifies the file and moves it over the destination. A corrupt object fails retryably; a failed
    // write or move fails with the fatal marker, and so does a stop request (the cancellation text). On
    // any failure the staging file is gone.
    Outcome<Ok> Finish(const std::stop_token& stopToken);

private:
    bool Write(const unsigned char* data, size_t length);

    const FileEntry& entry_;
    std::wstring destPath_;
    std::wstring staging_;
    FileHandle output_;
    Sha256 hash_;
    // For a compressed object: the worker's kept inflater, or one of its own on another thread.
    std::unique_ptr<KeptInflater, void (*)(KeptInflater*)> ownInflater_{nullptr, nullptr};
    KeptInflater* inflater_ = nullptr;
    bool ended_ = false;  // the zlib stream has ended (or the object is stored)
    bool failed_ = false; // corrupt or stopped
    uint64_t count_ = 0;  // bytes of the file so far
    unsigned long writeError_ = 0;
};

} // namespace Orv
