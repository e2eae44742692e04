#pragma once
#include "core/outcome.h"
#include "update/manifest.h"

#include <cstdint>
#include <string>
#include <string_view>

// The release's notes: a text file of the release, named by the manifest's `notes`, that the window shows
// once a run has brought the game folder to the release. The publisher checks the file with the same rules.
namespace Orv {

// The largest notes file: 64 KiB.
inline constexpr uint64_t kNotesLimit = 65536;

// The file's bytes as an edit control takes them: UTF-8 (a leading byte order mark dropped) as UTF-16,
// every line end (LF, CR LF or a lone CR) as CR LF. The failure says why the bytes are not notes, in a
// few words for a log line ("longer than 64 KiB", "not UTF-8 text").
Outcome<std::wstring> NotesTextOf(std::string_view bytes);

// Reads the notes file (a full path) and makes its text as NotesTextOf does; never more than the limit is
// read. The failure says why in a few words, as NotesTextOf does ("missing" among them).
Outcome<std::wstring> ReadNotesFile(const std::wstring& path);

// The notes the manifest names, from the game folder: empty when it names none. The failure is the log
// line that says why they are not shown: "notes: <path> is not shown (<why>)".
Outcome<std::wstring> ReleaseNotes(const Manifest& manifest, const std::wstring& gameFolder);

} // namespace Orv
