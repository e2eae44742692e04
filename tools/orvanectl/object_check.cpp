#include "orvanectl/object_check.h"

#include "core/handles.h"
#include "core/text.h"
#include "orvanectl/file_system.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <limits>
#include <vector>

namespace Orv::Publisher {
namespace {

constexpr size_t kReadChunk = 1048576;

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

std::optional<std::wstring> CheckObject(const std::wstring& mirrorRoot, const ExpectedObject& expected,
                                        std::stop_token stop, const ByteProgress& progress,
                                        const ContentSink& observe) {
    const std::wstring path = expected.suffix != nullptr
                                  ? SuffixedObjectPath(mirrorRoot, expected.sha256, expected.suffix)
                                  : ObjectFilePath(mirrorRoot, expected.sha256, expected.compressed);
    FileHandle file(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return L"missing";
        }
        return fmt::format(L"cannot be read: {}", ErrorText(error));
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) {
        return fmt::format(L"cannot be read: {}", ErrorText(::GetLastError()));
    }
    if (static_cast<uint64_t>(size.QuadPart) != expected.zsize) {
        return fmt::format(L"is {} bytes, the manifest says {}", size.QuadPart, expected.zsize);
    }

    ObjectBytesCheck check(expected, observe);
    std::vector<unsigned char> buffer(kReadChunk);
    for (;;) {
        if (stop.stop_requested()) {
            return L"not checked";
        }
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return fmt::format(L"cannot be read: {}", ErrorText(::GetLastError()));
        }
        if (progress) {
            progress(read);
        }
        if (read == 0 || !check.Add(buffer.data(), read)) {
            break;
        }
    }
    return check.Finish();
}

} // namespace Orv::Publisher
