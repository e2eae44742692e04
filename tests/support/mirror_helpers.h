#pragma once
#include "update/manifest.h"
#include "update/pack/pack_index.h"

#include <windows.h>

#include <string>
#include <vector>

// Helpers of the publisher tests: running orvanectl.exe and looking into a mirror independently of it.
namespace Orv::Support {

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF; // stays so when the program did not end in time
    std::string output;          // standard output and standard error, UTF-8
};

// Runs orvanectl.exe with the arguments (each quoted as one), in the working folder when given.
RunResult RunOrvanectl(const std::vector<std::wstring>& args, const std::wstring& workingFolder = {});

// The command line orvanectl.exe takes for the arguments (each quoted as one).
std::wstring OrvanectlArguments(const std::vector<std::wstring>& args);

// The publish arguments every test needs, followed by the extra ones.
RunResult RunPublish(const std::wstring& game, const std::wstring& mirror, int release,
                     const std::vector<std::wstring>& extra = {}, const std::wstring& workingFolder = {});

std::string Utf8(const std::wstring& text);

// SHA-256 as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& bytes);

// The zlib stream inflated; "<bad>" when it is not a complete stream.
std::string Inflate(const std::string& stream);
std::string Deflate(const std::string& bytes);

// Bytes that do not compress.
std::string RandomBytes(size_t length, unsigned seed);

// Every file below the folder, relative with "/" separators, sorted.
std::vector<std::wstring> FilesBelow(const std::wstring& folder);

// The object file of a manifest entry.
std::wstring ObjectPath(const std::wstring& mirror, const FileEntry& entry);

// manifest.txt of the mirror, parsed by the launcher's parser (fails the test when it does not parse).
Manifest ReadManifest(const std::wstring& mirror);

// A pack or pack index file of the mirror: "<mirror>\packs\<2 hex>\<sha256><suffix>" (".pack", ".index").
std::wstring PackPath(const std::wstring& mirror, const std::string& sha256, const wchar_t* suffix);

// The pack index the mirror's manifest names, inflated and parsed by the launcher's parser (fails the
// test when there is none, or it is not the text of the row's size and SHA-256, or does not parse).
PackIndex ReadPackIndexOf(const std::wstring& mirror);

// The entry of the path (with "\" separators); fails the test when there is none.
const FileEntry& EntryOf(const Manifest& manifest, const std::wstring& path);

// The test publisher's private key file (made by "orvanectl keygen"), and its public key, which
// OrvaneKeyed.exe, the launcher built with a release key, is built with.
std::wstring PublisherKeyFile();
inline constexpr const char* kPublisherKey = ORV_TEST_RELEASE_KEY;

// Sets the file's last write time to a day long ago, so a rewrite shows.
void MakeOld(const std::wstring& path);
bool IsOld(const std::wstring& path);

} // namespace Orv::Support
