#pragma once
#include "core/outcome.h"
#include "update/manifest.h"

#include <optional>
#include <string>
#include <vector>

// What a release and its mirror must be before publish writes anything. A failure message may hold
// several lines: one per problem, then the line that sums them up.
namespace Orv::Publisher {

// The mirror root is a folder that a file can be created in, or, when it is missing, the nearest folder
// above it is: a file of a temporary name is created there and deleted again. Nothing is made.
Outcome<Ok> CheckMirrorRoot(const std::wstring& mirrorRoot);

// A file of the release before it is published.
struct NamedFile {
    std::wstring source; // absolute
    std::wstring path;   // relative, "/" separators
};

// Every path can be written in the manifest and taken by the launcher, and no two of them collide;
// the failure names every path that cannot be published.
Outcome<Ok> CheckReleasePaths(const std::vector<NamedFile>& files);

// The release path of the notes file that --notes names (`given`, relative to the game folder, "/" or "\\",
// any letter case): the path of that file of the release, with "/" separators. Refused when it names no file
// of the release, or one that launchers would not show (larger than 64 KiB, not UTF-8 text).
Outcome<std::wstring> ReleaseNotesPath(const std::wstring& given, const std::vector<NamedFile>& files);

// The client version to publish: `given` (--client-version; may be empty) checked against the one the
// release's own version file holds (`versionFile`, its absolute path; empty when the release has none).
// The launcher writes the client version into that file after an update, so a file that says another
// version would never match its manifest row again. Without `given`, the file's version.
Outcome<std::wstring> ReleaseClientVersion(const std::wstring& given, const std::wstring& versionFile);

// The release the mirror serves now (its manifest.txt parsed); nothing when it has none (or one that
// does not parse, which publishing replaces).
std::optional<Manifest> ServedRelease(const std::wstring& mirrorRoot);

// Launchers that hold a release refuse an older one, so a mirror never goes back: the release must not
// be lower than the one the mirror serves.
Outcome<Ok> CheckReleaseOrder(const std::optional<Manifest>& served, const std::wstring& mirrorRoot,
                              int32_t release);

// Under the number the mirror serves, only the same content may be published again (unless forced):
// players who hold that release would not be told of other content. `release` holds the new
// release's number, keys and file rows (paths with backslashes).
Outcome<Ok> CheckSameRelease(const std::optional<Manifest>& served, const std::wstring& mirrorRoot,
                             const Manifest& release, bool force);

} // namespace Orv::Publisher
