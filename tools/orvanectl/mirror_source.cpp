#include "orvanectl/mirror_source.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <vector>

namespace Orv::Publisher {
namespace {

constexpr size_t kReadChunk = 1048576;

std::wstring SizeProblem(const ListedFile& file, uint64_t actual) {
    return fmt::format(L"is {} bytes, {} says {}", actual, file.listedBy, file.size);
}

} // namespace

unsigned FolderSource::Workers() const {
    return WorkerCount();
}

Outcome<std::string> FolderSource::ReadManifest(std::stop_token) const {
    return ReadWholeFile(JoinPath(root_, DownloadServer::kManifestName), DownloadServer::kManifestLimit);
}

std::wstring FolderSource::PathOf(const std::wstring& name) const {
    std::wstring relative = name;
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return JoinPath(root_, relative);
}

std::optional<std::wstring> FolderSource::Read(const ListedFile& file, const ByteSink& sink,
                                               std::stop_token stop, const ByteProgress& progress) const {
    const std::wstring path = PathOf(file.name);
    const auto size = RegularFileSize(path);
    if (!size) {
        return L"missing";
    }
    if (*size != file.size) {
        return SizeProblem(file, *size);
    }
    auto input = InputFile::Open(path);
    if (!input) {
        return fmt::format(L"cannot be read: {}", input.message);
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(kReadChunk, file.size + 1)));
    uint64_t position = 0;
    while (position < file.size) {
        if (stop.stop_requested()) {
            return L"not checked";
        }
        auto read = input.value->Read(buffer.data(), buffer.size());
        if (!read) {
            return fmt::format(L"cannot be read: {}", read.message);
        }
        if (*read.value == 0) {
            break;
        }
        if (progress) {
            progress(*read.value);
        }
        position += *read.value;
        if (!sink(buffer.data(), *read.value)) {
            return std::nullopt;
        }
    }
    if (position != file.size) {
        return fmt::format(L"ended after {} of its {} bytes while it was read", position, file.size);
    }
    return std::nullopt;
}

std::optional<std::wstring> FolderSource::Probe(const ListedFile& file, std::stop_token) const {
    const auto size = RegularFileSize(PathOf(file.name));
    if (!size) {
        return L"missing";
    }
    if (*size != file.size) {
        return SizeProblem(file, *size);
    }
    return std::nullopt;
}

std::wstring SuffixedObjectName(const std::string& sha256, const wchar_t* suffix) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"objects/{}/{}{}", hash.substr(0, 2), hash, suffix);
}

Outcome<std::string> ReadWhole(const MirrorSource& source, const ListedFile& file, std::stop_token stop) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(file.size));
    const ByteSink sink = [&](const unsigned char* data, size_t length) {
        bytes.append(reinterpret_cast<const char*>(data), length);
        return true;
    };
    if (auto problem = source.Read(file, sink, stop, {})) {
        return Outcome<std::string>::Failure(std::move(*problem));
    }
    return Outcome<std::string>::Success(std::move(bytes));
}

} // namespace Orv::Publisher
