#pragma once
#include <cstdint>
#include <string>

// What the launcher requires of the download server: under every mirror base URL (ending in "/"),
// "manifest.txt" and the objects tree "objects/<first two hex digits>/<sha256>[.z]".
namespace Orv::DownloadServer {

// "OrvaneLauncher/" followed by the launcher version.
std::wstring UserAgent();

inline constexpr const wchar_t* kManifestName = L"manifest.txt";
inline constexpr const char* kCompressedSuffixUtf8 = ".z";
// Object name suffixes: a zlib stream of a whole file, a zlib stream of one chunk of a file published
// in chunks, and a chunk list (text).
inline constexpr const wchar_t* kCompressedSuffix = L".z";
inline constexpr const wchar_t* kChunkSuffix = L".c";
inline constexpr const wchar_t* kChunkListSuffix = L".l";

// The packs folder beside the objects: "packs/<2 hex>/<sha256>.pack" (objects back to back) and
// "packs/<2 hex>/<sha256>.index" (where each object lies, a zlib stream of text).
inline constexpr const wchar_t* kPackSuffix = L".pack";
inline constexpr const wchar_t* kPackIndexSuffix = L".index";

// The largest manifest body the launcher reads: 64 MiB.
inline constexpr size_t kManifestLimit = 67108864;

// "{}manifest.txt?t={}": the tick count makes every request distinct for caches.
std::wstring ManifestUrl(const std::wstring& baseUrl, uint64_t tick);

// "{}objects/{}/{}{}": base URL, first two characters of the hash, the hash, ".z" when compressed.
std::wstring ObjectUrl(const std::wstring& baseUrl, const std::string& sha256, bool compressed);
// The same with the suffix given: "", kCompressedSuffix, kChunkSuffix or kChunkListSuffix.
std::wstring ObjectUrl(const std::wstring& baseUrl, const std::string& sha256, const wchar_t* suffix);

// "{}packs/{}/{}{}": base URL, first two characters of the hash, the hash, kPackSuffix or kPackIndexSuffix.
std::wstring PackUrl(const std::wstring& baseUrl, const std::string& sha256, const wchar_t* suffix);

// The object's name below the objects folder, with "/": "<2 hex>/<sha256>[.z]".
std::string ObjectRelativePath(const std::string& sha256, bool compressed);

} // namespace Orv::DownloadServer
