#include "orvanectl/object_check.h"

#include "core/handles.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/zlib_stream.h"
#include "update/sha256.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <vector>

namespace Orv::Publisher {
namespace {

constexpr size_t kReadChunk = 1048576;

// The bytes the object holds: hashed and counted, never more than the expected size kept apart.
struct Content {
    Content(uint64_t limit, const std::function<void(const unsigned char*, size_t)>& observe)
        : limit(limit), observe(observe) {}
    bool Add(const unsigned char* data, size_t length) {
        size += length;
        if (size > limit) {
            return false;
        }
        hash.Update(data, length);
        if (observe) {
            observe(data, length);
        }
        return true;
    }
    uint64_t limit;
    const std::function<void(const unsigned char*, size_t)>& observe;
    uint64_t size = 0;
    Sha256 hash;
};

} // namespace

std::optional<std::wstring> CheckObject(const std::wstring& mirrorRoot, const ExpectedObject& expected,
                                        std::stop_token stop, const ByteProgress& progress,
                                        const std::function<void(const unsigned char*, size_t)>& observe) {
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

    Content content(expected.size, observe);
    InflateStream inflate;
    if (expected.compressed && !inflate.Valid()) {
        return L"zlib could not start";
    }
    const ByteSink sink = [&](const unsigned char* data, size_t length) { return content.Add(data, length); };
    InflateState state = InflateState::More;
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
        if (read == 0) {
            break;
        }
        if (!expected.compressed) {
            if (!content.Add(buffer.data(), read)) {
                break;
            }
            continue;
        }
        state = inflate.Push(buffer.data(), read, sink);
        if (state == InflateState::Bad) {
            return fmt::format(L"is not a valid zlib stream ({})", inflate.ErrorText());
        }
        if (state != InflateState::More) {
            break; // the end of the stream (what follows it does not matter), or too much content
        }
    }
    if (content.size > expected.size) {
        return fmt::format(L"holds more than the {} bytes of the file", expected.size);
    }
    if (expected.compressed && state != InflateState::End) {
        return fmt::format(L"ends inside its zlib stream, after {} of {} bytes", content.size, expected.size);
    }
    if (content.size != expected.size) {
        return fmt::format(L"holds {} bytes, the file has {}", content.size, expected.size);
    }
    const auto digest = content.hash.Finish();
    if (!digest) {
        return L"cannot be hashed: the system's SHA-256 failed";
    }
    if (*digest != expected.sha256) {
        return fmt::format(L"holds content with SHA-256 {}", Utf8ToWide(*digest));
    }
    return std::nullopt;
}

} // namespace Orv::Publisher
