#include "object_fixture.h"

#include "mirror_helpers.h"

#include "core/text.h"
#include "partners/download_server.h"
#include "support/mirror_env.h"
#include "support/test_folder.h"
#include "update/sha256.h"

namespace Orv::Support {

std::string SampleBytes(size_t size, uint32_t seed, bool repetitive) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761U + 1;
    for (size_t i = 0; i < size; ++i) {
        if (repetitive) {
            bytes[i] = static_cast<char>('a' + (i / 64 + seed) % 26);
        } else {
            state = state * 1664525U + 1013904223U;
            bytes[i] = static_cast<char>(state >> 24);
        }
    }
    return bytes;
}

FileEntry PublishObject(const std::wstring& folder, const std::wstring& path, const std::string& content,
                        bool compressed) {
    FileEntry entry;
    entry.path = path;
    entry.size = content.size();
    entry.sha256 = Sha256Hex(content);
    entry.compressed = compressed;
    const std::string object = compressed ? Deflate(content) : content;
    entry.zsize = object.size();
    std::wstring relative = Utf8ToWide(DownloadServer::ObjectRelativePath(entry.sha256, compressed));
    for (wchar_t& c : relative) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    WriteFileBytes(MirrorRoot() + L"\\" + folder + L"\\objects\\" + relative, object);
    return entry;
}

} // namespace Orv::Support

namespace Orv::Support {

std::string WriteManifest(const std::wstring& folder, const std::vector<FileEntry>& entries,
                          const std::string& keyLines) {
    std::string text = "format\t1\n" + keyLines;
    for (const FileEntry& e : entries) {
        std::string path = WideToUtf8(e.path);
        for (char& c : path) {
            if (c == '\\') {
                c = '/';
            }
        }
        text += "f\t" + e.sha256 + "\t" + std::to_string(e.size) + "\t" + std::to_string(e.zsize) + "\t" +
                (e.compressed ? "z" : "-") + "\t" + std::string(1, e.kind) + "\t" + path + "\n";
    }
    WriteFileBytes(MirrorRoot() + L"\\" + folder + L"\\manifest.txt", text);
    return text;
}

} // namespace Orv::Support
