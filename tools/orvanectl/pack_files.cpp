#include "orvanectl/pack_files.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/object_store.h"
#include "orvanectl/zlib_stream.h"
#include "partners/download_server.h"
#include "update/sha256.h"

#include <fmt/xchar.h>

namespace Orv::Publisher {

std::wstring PacksFolder(const std::wstring& mirrorRoot) {
    return JoinPath(mirrorRoot, L"packs");
}

std::wstring PackFilePath(const std::wstring& mirrorRoot, const std::string& sha256, const wchar_t* suffix) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"{}\\{}\\{}{}", PacksFolder(mirrorRoot), hash.substr(0, 2), hash, suffix);
}

std::wstring PackName(const std::string& sha256, const wchar_t* suffix) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"packs/{}/{}{}", hash.substr(0, 2), hash, suffix);
}

std::wstring PackedObjectPath(const std::wstring& mirrorRoot, const std::string& name) {
    const std::wstring suffix = Utf8ToWide(name.substr(std::min<size_t>(name.size(), 64)));
    return SuffixedObjectPath(mirrorRoot, name.substr(0, 64), suffix.c_str());
}

Outcome<PackIndex> ReadPackIndex(const std::wstring& mirrorRoot, const PackIndexRow& row) {
    return ReadPackIndex(FolderSource(mirrorRoot), row);
}

Outcome<PackIndex> ReadPackIndex(const MirrorSource& source, const PackIndexRow& row, std::stop_token stop,
                                 const ContentSink& copy) {
    using Result = Outcome<PackIndex>;
    if (row.size > kPackIndexLimit) {
        return Result::Failure(
            fmt::format(L"the manifest lists {} bytes of text, more than a launcher takes", row.size));
    }
    InflateStream inflate;
    std::string text;
    bool tooLong = false;
    const ByteSink sink = [&](const unsigned char* data, size_t length) {
        tooLong = text.size() + length > row.size;
        if (!tooLong) {
            text.append(reinterpret_cast<const char*>(data), length);
        }
        return !tooLong;
    };
    InflateState state = inflate.Valid() ? InflateState::More : InflateState::Bad;
    const ByteSink input = [&](const unsigned char* data, size_t length) {
        if (copy) {
            copy(data, length);
        }
        if (state == InflateState::More) {
            state = inflate.Push(data, length, sink);
        }
        return state == InflateState::More || static_cast<bool>(copy);
    };
    const ListedFile file{PackName(row.sha256, DownloadServer::kPackIndexSuffix), row.zsize};
    if (auto problem = source.Read(file, input, stop, {})) {
        return Result::Failure(std::move(*problem));
    }
    if (tooLong) {
        return Result::Failure(
            fmt::format(L"holds more than the {} bytes of text the manifest says", row.size));
    }
    if (state == InflateState::Bad) {
        return Result::Failure(fmt::format(L"is not a valid zlib stream ({})", inflate.ErrorText()));
    }
    if (state != InflateState::End) {
        return Result::Failure(L"ends inside its zlib stream");
    }
    if (text.size() != row.size) {
        return Result::Failure(
            fmt::format(L"holds {} bytes of text, the manifest says {}", text.size(), row.size));
    }
    const auto digest = Sha256Hex(text);
    if (digest != row.sha256) {
        return Result::Failure(fmt::format(L"holds text with SHA-256 {}, not the index the manifest names",
                                           Utf8ToWide(digest.value_or(""))));
    }
    auto index = ParsePackIndex(text);
    if (!index) {
        return Result::Failure(fmt::format(L"does not parse: {}", index.message));
    }
    return index;
}

} // namespace Orv::Publisher
