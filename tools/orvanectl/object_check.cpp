#include "orvanectl/object_check.h"

#include "core/text.h"
#include "partners/download_server.h"

#include <fmt/xchar.h>

#include <limits>

namespace Orv::Publisher {
namespace {

// The most an object may hold: the file's size, or any size when it is not known.
uint64_t ContentLimit(const ExpectedObject& expected) {
    return expected.anySize ? std::numeric_limits<uint64_t>::max() : expected.size;
}

} // namespace

ObjectBytesCheck::ObjectBytesCheck(const ExpectedObject& expected, ContentSink content)
    : expected_(expected), observe_(std::move(content)) {
    if (expected_.compressed) {
        inflate_.emplace();
    }
}

bool ObjectBytesCheck::AddContent(const unsigned char* data, size_t length) {
    contentSize_ += length;
    if (contentSize_ > ContentLimit(expected_)) {
        return false;
    }
    hash_.Update(data, length);
    if (observe_) {
        observe_(data, length);
    }
    return true;
}

bool ObjectBytesCheck::Add(const unsigned char* data, size_t length) {
    if (done_ || length == 0) {
        return !done_;
    }
    if (!expected_.compressed) {
        done_ = !AddContent(data, length);
        return !done_;
    }
    state_ = inflate_->Push(
        data, length, [&](const unsigned char* out, size_t produced) { return AddContent(out, produced); });
    // The end of the stream (what follows it does not matter), too much content, or a bad stream.
    done_ = state_ != InflateState::More;
    return !done_;
}

std::optional<std::wstring> ObjectBytesCheck::Finish() {
    if (inflate_ && !inflate_->Valid()) {
        return L"zlib could not start";
    }
    if (state_ == InflateState::Bad) {
        return fmt::format(L"is not a valid zlib stream ({})", inflate_->ErrorText());
    }
    if (contentSize_ > ContentLimit(expected_)) {
        return fmt::format(L"holds more than the {} bytes of the file", expected_.size);
    }
    if (expected_.compressed && state_ != InflateState::End) {
        return expected_.anySize ? fmt::format(L"ends inside its zlib stream, after {} bytes", contentSize_)
                                 : fmt::format(L"ends inside its zlib stream, after {} of {} bytes",
                                               contentSize_, expected_.size);
    }
    if (!expected_.anySize && contentSize_ != expected_.size) {
        return fmt::format(L"holds {} bytes, the file has {}", contentSize_, expected_.size);
    }
    const auto digest = hash_.Finish();
    if (!digest) {
        return L"cannot be hashed: the system's SHA-256 failed";
    }
    if (*digest != expected_.sha256) {
        return fmt::format(L"holds content with SHA-256 {}", Utf8ToWide(*digest));
    }
    return std::nullopt;
}

ListedFile ObjectFileOf(const ExpectedObject& expected) {
    const wchar_t* suffix = expected.suffix != nullptr ? expected.suffix
                            : expected.compressed      ? DownloadServer::kCompressedSuffix
                                                       : L"";
    return ListedFile{SuffixedObjectName(expected.sha256, suffix), expected.zsize};
}

std::optional<std::wstring> CheckObject(const MirrorSource& source, const ExpectedObject& expected,
                                        std::stop_token stop, const ByteProgress& progress,
                                        const ContentSink& observe, const ContentSink& copy) {
    ObjectBytesCheck check(expected, observe);
    const ByteSink sink = [&](const unsigned char* data, size_t length) {
        if (copy) {
            copy(data, length);
        }
        return check.Add(data, length) || static_cast<bool>(copy);
    };
    if (auto problem = source.Read(ObjectFileOf(expected), sink, stop, progress)) {
        return problem;
    }
    return check.Finish();
}

Outcome<std::vector<ChunkListEntry>> ReadChunkList(const MirrorSource& source, const ChunkedFile& row,
                                                   uint64_t fileSize, std::stop_token stop,
                                                   const ContentSink& copy) {
    using Result = Outcome<std::vector<ChunkListEntry>>;
    if (row.listSize > ChunkListLimit(fileSize)) {
        return Result::Failure(
            fmt::format(L"the manifest lists {} bytes, more than a launcher takes for a file of {} bytes",
                        row.listSize, fileSize));
    }
    std::string text;
    const ByteSink sink = [&](const unsigned char* data, size_t length) {
        if (copy) {
            copy(data, length);
        }
        text.append(reinterpret_cast<const char*>(data), length);
        return true;
    };
    const ListedFile file{SuffixedObjectName(row.listSha256, DownloadServer::kChunkListSuffix), row.listSize};
    if (auto problem = source.Read(file, sink, stop, {})) {
        return Result::Failure(std::move(*problem));
    }
    if (Sha256Hex(text) != row.listSha256) {
        return Result::Failure(L"is not the chunk list the manifest names");
    }
    auto list = ParseChunkList(text, fileSize);
    if (!list) {
        return Result::Failure(fmt::format(L"does not describe the {} bytes of its file", fileSize));
    }
    return Result::Success(std::move(*list));
}

} // namespace Orv::Publisher
