#include "update/staging_stream.h"

#include "core/paths.h"
#include "core/held_files.h"
#include "core/text.h"
#include "update/object_stage.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <filesystem>
#include <vector>
#include <zlib.h>

namespace Orv {
namespace {

// Inflated bytes go to the staging file in pieces of this size.
constexpr size_t kOutputBuffer = 65536;

Outcome<Ok> Fatal(uint32_t code, const std::wstring& path) {
    return Failure(std::wstring(1, kFatalMarker) + WriteErrorText(code, path));
}

// The staging file, created anew; its folder is made only when it is missing, so a run does not ask
// for the folders of every file it places.
FileHandle CreateStaging(const std::wstring& staging) {
    const auto create = [&] {
        return FileHandle(::CreateFileW(LongPath(staging).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    FileHandle file = create();
    if (!file && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        EnsureFolder(ParentFolder(staging));
        file = create();
    }
    return file;
}

} // namespace

struct KeptInflater {
    z_stream stream{};
};

namespace {

void EndInflater(KeptInflater* inflater) {
    inflateEnd(&inflater->stream);
    delete inflater;
}

std::unique_ptr<KeptInflater, void (*)(KeptInflater*)> MakeInflater() {
    auto inflater = std::make_unique<KeptInflater>();
    if (inflateInit(&inflater->stream) != Z_OK) {
        return {nullptr, EndInflater};
    }
    return {inflater.release(), EndInflater};
}

} // namespace

StagingStream::StagingStream(const FileEntry& entry, const std::wstring& destPath)
    : entry_(entry), destPath_(destPath), staging_(StagingPath(destPath)) {
    if (!entry.compressed) {
        ended_ = true;
        return;
    }
    // One object at a time per thread: the worker's inflater is reset for each.
    WorkerBuffers* buffers = ThreadBuffers();
    if (buffers != nullptr && buffers->inflater) {
        inflater_ = buffers->inflater.get();
        failed_ = inflateReset(&inflater_->stream) != Z_OK;
        return;
    }
    auto made = MakeInflater();
    inflater_ = made.get();
    failed_ = inflater_ == nullptr;
    if (buffers != nullptr) {
        buffers->inflater = std::move(made);
    } else {
        ownInflater_ = std::move(made);
    }
}

StagingStream::~StagingStream() {
    if (output_) {
        output_.Reset();
        DeleteFileWhenFree(staging_);
    }
}

bool StagingStream::Write(const unsigned char* data, size_t length) {
    if (length > entry_.size - count_) {
        // More than the file holds: a hostile stream cannot fill the disk.
        failed_ = true;
        return false;
    }
    if (!output_) {
        output_ = CreateStaging(staging_);
        if (!output_) {
            writeError_ = ::GetLastError();
            return false;
        }
    }
    if (length > 0) {
        DWORD written = 0;
        if (!::WriteFile(output_.Get(), data, static_cast<DWORD>(length), &written, nullptr)) {
            writeError_ = ::GetLastError();
            return false;
        }
        if (written != length) {
            // A full disk may take part of a write and report success.
            writeError_ = ERROR_DISK_FULL;
            return false;
        }
    }
    if (length > 0) {
        hash_.Update(data, length);
    }
    count_ += length;
    return true;
}

bool StagingStream::Feed(std::span<const unsigned char> bytes, const std::stop_token& stopToken) {
    if (failed_ || writeError_ != 0) {
        return false;
    }
    if (stopToken.stop_requested()) {
        failed_ = true;
        return false;
    }
    if (inflater_ == nullptr) {
        return Write(bytes.data(), bytes.size());
    }
    // Bytes after the end of the zlib stream are ignored.
    z_stream& stream = inflater_->stream;
    stream.next_in = const_cast<unsigned char*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    std::vector<unsigned char> fresh;
    std::vector<unsigned char>& out = BufferOf(&WorkerBuffers::inflateOut, fresh, kOutputBuffer);
    while (stream.avail_in > 0 && !ended_) {
        if (stopToken.stop_requested()) {
            failed_ = true;
            return false;
        }
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            failed_ = true;
            return false;
        }
        ended_ = result == Z_STREAM_END;
        if (!Write(out.data(), out.size() - stream.avail_out)) {
            return false;
        }
    }
    return true;
}

Outcome<Ok> StagingStream::Finish(const std::stop_token& stopToken) {
    if (writeError_ == 0 && !failed_ && !output_) {
        // An empty file: its staging file is made here.
        Write(nullptr, 0);
    }
    const std::optional<std::string> digest = hash_.Finish();
    const bool good =
        writeError_ == 0 && !failed_ && ended_ && count_ == entry_.size && digest == entry_.sha256;
    // The staged data reaches the disk before the move that puts it in place.
    if (good && !::FlushFileBuffers(output_.Get())) {
        writeError_ = ::GetLastError();
    }
    output_.Reset();
    if (writeError_ != 0 || !good) {
        DeleteFileWhenFree(staging_, stopToken);
        if (writeError_ != 0) {
            return Fatal(writeError_, staging_);
        }
        return stopToken.stop_requested() ? Failure(std::wstring(1, kFatalMarker) + CancelledText())
                                          : Failure(CorruptObjectText());
    }
    if (const DWORD error = MoveIntoPlace(staging_, destPath_, stopToken); error != ERROR_SUCCESS) {
        DeleteFileWhenFree(staging_, stopToken);
        return Fatal(error, destPath_);
    }
    return Success();
}

} // namespace Orv
