#include "mirror_helpers.h"

#include "core/handles.h"
#include "core/text.h"
#include "support/process.h"
#include "support/test_folder.h"
#include "update/sha256.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <random>

using namespace std::chrono_literals;

namespace Orv::Support {
namespace {

// One command-line argument as CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

FILETIME OldTime() {
    SYSTEMTIME day{2001, 2, 0, 3, 4, 5, 6, 0};
    FILETIME time{};
    ::SystemTimeToFileTime(&day, &time);
    return time;
}

} // namespace

std::wstring OrvanectlArguments(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const std::wstring& arg : args) {
        line += Quote(arg) + L" ";
    }
    return line;
}

RunResult RunOrvanectl(const std::vector<std::wstring>& args, const std::wstring& workingFolder) {
    TempFolder outputFolder(L"orvout");
    const std::wstring outputFile = outputFolder / L"output.txt";
    RunResult result;
    ChildProcess child = StartProcess(BinaryFolder() + L"\\orvanectl.exe", OrvanectlArguments(args),
                                      workingFolder, outputFile);
    EXPECT_TRUE(child.Started()) << child.StartProblem();
    if (const auto code = child.WaitExit(120s)) {
        result.exitCode = *code;
    } else {
        child.Kill();
    }
    result.output = ReadFileOrEmpty(outputFile);
    return result;
}

RunResult RunPublish(const std::wstring& game, const std::wstring& mirror, int release,
                     const std::vector<std::wstring>& extra, const std::wstring& workingFolder) {
    std::vector<std::wstring> args{L"publish",
                                   game,
                                   mirror,
                                   L"--release",
                                   std::to_wstring(release),
                                   L"--client-version",
                                   L"7.1." + std::to_wstring(release)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunOrvanectl(args, workingFolder);
}

std::string Utf8(const std::wstring& text) {
    return WideToUtf8(text);
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Finish().value_or("");
}

std::string Inflate(const std::string& stream) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return "<bad>";
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    std::string out;
    char buffer[65536];
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        result = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : "<bad>";
}

std::string Deflate(const std::string& bytes) {
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
              static_cast<uLong>(bytes.size()), 9);
    out.resize(length);
    return out;
}

std::string RandomBytes(size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::vector<std::wstring> FilesBelow(const std::wstring& folder) {
    std::vector<std::wstring> files;
    std::error_code error;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (item.is_regular_file()) {
            std::wstring relative = std::filesystem::relative(item.path(), folder).wstring();
            std::replace(relative.begin(), relative.end(), L'\\', L'/');
            files.push_back(relative);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::wstring ObjectPath(const std::wstring& mirror, const FileEntry& entry) {
    const std::wstring hash(entry.sha256.begin(), entry.sha256.end());
    return mirror + L"\\objects\\" + hash.substr(0, 2) + L"\\" + hash + (entry.compressed ? L".z" : L"");
}

std::wstring PublisherKeyFile() {
    return BinaryFolder() + L"\\publisher_test.key";
}

Manifest ReadManifest(const std::wstring& mirror) {
    auto parsed = ParseManifest(ReadFileOrEmpty(mirror + L"\\manifest.txt"));
    EXPECT_TRUE(parsed.ok()) << Utf8(parsed.message);
    return parsed.ok() ? std::move(*parsed.value) : Manifest{};
}

std::wstring PackPath(const std::wstring& mirror, const std::string& sha256, const wchar_t* suffix) {
    const std::wstring hash(sha256.begin(), sha256.end());
    return mirror + L"\\packs\\" + hash.substr(0, 2) + L"\\" + hash + suffix;
}

PackIndex ReadPackIndexOf(const std::wstring& mirror) {
    const Manifest manifest = ReadManifest(mirror);
    if (!manifest.packIndex) {
        ADD_FAILURE() << "the manifest has no pack index row";
        return {};
    }
    const PackIndexRow& row = *manifest.packIndex;
    const std::string object = ReadFileOrEmpty(PackPath(mirror, row.sha256, L".index"));
    const std::string text = Inflate(object);
    EXPECT_EQ(object.size(), row.zsize);
    EXPECT_EQ(text.size(), row.size);
    EXPECT_EQ(Sha256Hex(text), row.sha256);
    auto index = ParsePackIndex(text);
    EXPECT_TRUE(index.ok()) << Utf8(index.message);
    return index.ok() ? std::move(*index.value) : PackIndex{};
}

const FileEntry& EntryOf(const Manifest& manifest, const std::wstring& path) {
    for (const FileEntry& entry : manifest.files) {
        if (entry.path == path) {
            return entry;
        }
    }
    ADD_FAILURE() << "no manifest entry for " << Utf8(path);
    static const FileEntry none;
    return none;
}

void MakeOld(const std::wstring& path) {
    const FileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.Valid());
    const FILETIME old = OldTime();
    EXPECT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &old));
}

bool IsOld(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    const FILETIME old = OldTime();
    return ::CompareFileTime(&data.ftLastWriteTime, &old) == 0;
}

} // namespace Orv::Support
