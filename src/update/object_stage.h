#pragma once
#include "core/outcome.h"
#include "update/manifest.h"

#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

namespace Orv {

// A message that begins with this marker tells the downloader not to try again.
inline constexpr wchar_t kFatalMarker = L'!';

// The message of an object that is not the file it should be; the object is downloaded again.
std::wstring CorruptObjectText();

// The staging file beside a destination: the destination's path with ".ovnew" appended.
std::wstring StagingPath(const std::wstring& destPath);

// Turns a finished object (.part) into the verified file at destPath: inflates a compressed object
// into the staging file while counting and hashing, or hashes a stored one in place; then moves the
// verified file over the destination in one step. A corrupt object fails retryably; input/output
// failures fail with the fatal marker, and so does a stop request (the cancellation text), which
// leaves the object for the next run.
Outcome<Ok> StageObject(const FileEntry& entry, const std::wstring& partPath, const std::wstring& destPath,
                        std::stop_token stopToken);

// StageObject for an object held in memory (no .part): inflated, or taken as it is, into the staging
// file while counting and hashing, then moved over the destination, with the same outcomes.
Outcome<Ok> StageBytes(const FileEntry& entry, std::span<const char> object, const std::wstring& destPath,
                       std::stop_token stopToken);

// Moves the verified file over the destination (replacing it, written through), clearing the
// destination's read-only attribute when a try is refused, making its folder when it is missing, and
// waiting while another program holds the destination (core/held_files.h). Returns the system's error
// code.
unsigned long MoveIntoPlace(const std::wstring& source, const std::wstring& destPath,
                            std::stop_token stopToken = {});

// The user message for a system error met while writing or moving the path.
std::wstring WriteErrorText(uint32_t code, const std::wstring& path);

// The last component of a path.
std::wstring FileNameOf(const std::wstring& path);

} // namespace Orv
