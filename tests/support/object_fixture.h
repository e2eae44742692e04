#pragma once
#include "mirror_helpers.h"
#include "update/manifest.h"

#include <string>
#include <vector>

namespace Orv::Support {

// Deterministic bytes: compressible when `repetitive`, else looking random.
std::string SampleBytes(size_t size, uint32_t seed, bool repetitive = false);

// A manifest entry for the content, with the object stored under
// <mirror root>\<folder>\objects\<2 hex>\<sha256>[.z] so that a mirror base URL ending in
// "<folder>/" serves it.
FileEntry PublishObject(const std::wstring& folder, const std::wstring& path, const std::string& content,
                        bool compressed);

} // namespace Orv::Support

namespace Orv::Support {

// Writes <mirror root>\<folder>\manifest.txt: "format 1", the extra key lines, then one row per entry.
std::string WriteManifest(const std::wstring& folder, const std::vector<FileEntry>& entries,
                          const std::string& keyLines = {});

} // namespace Orv::Support
