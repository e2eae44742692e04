#include "orvanectl/publish_checks.h"

#include "core/handles.h"
#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "partners/download_server.h"
#include "update/release_notes.h"
#include "update/release_path.h"
#include "update/version_stamp.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace Orv::Publisher {
namespace {

// A failure that names at most this many paths adds how many more there are.
constexpr size_t kNamedPaths = 3;
// The version file is a few lines; anything larger is not one.
constexpr size_t kVersionFileLimit = 1 << 20;

bool IsFile(const std::wstring& absolute) {
    const DWORD attributes = ::GetFileAttributesW(SystemPath(absolute).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Why the launcher could not take the path from a manifest, or nothing when it can.
std::optional<std::wstring> PathProblem(const std::wstring& path) {
    for (const wchar_t c : path) {
        if (c < L' ' || c == 0x7F) {
            return L"its name holds a control character";
        }
    }
    if (path.find(L"..") != std::wstring::npos) {
        return L"the launcher refuses paths that contain \"..\"";
    }
    if (path.find(L':') != std::wstring::npos) {
        return L"the launcher refuses paths that contain \":\"";
    }
    if (path.find_first_of(L"<>\"|?*") != std::wstring::npos) {
        return L"Windows refuses the characters < > \" | ? * in names";
    }
    if (Utf8ToWide(WideToUtf8(path)) != path) {
        return L"its name is not valid Unicode";
    }
    std::wstring windowsPath = path;
    std::replace(windowsPath.begin(), windowsPath.end(), L'/', L'\\');
    if (IsRefusedPath(windowsPath)) {
        return L"the launcher refuses device names (CON, NUL, COM1, ...) and names that end in a dot or a "
               L"blank";
    }
    return std::nullopt;
}

// "\"a\", \"b\", \"c\" and 4 more"
std::wstring SomePaths(const std::vector<std::wstring>& paths) {
    std::wstring text;
    for (size_t i = 0; i < paths.size() && i < kNamedPaths; ++i) {
        text += fmt::format(L"{}\"{}\"", i == 0 ? L"" : L", ", paths[i]);
    }
    if (paths.size() > kNamedPaths) {
        text += fmt::format(L" and {} more", paths.size() - kNamedPaths);
    }
    return text;
}

} // namespace

Outcome<Ok> CheckMirrorRoot(const std::wstring& mirrorRoot) {
    // A missing mirror root is made once the release is ready to be written; until then the nearest folder
    // above it that exists has to take the new folders.
    std::wstring existing = mirrorRoot;
    while (::GetFileAttributesW(SystemPath(existing).c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::wstring parent = ParentFolder(existing);
        if (parent.empty() || parent.size() >= existing.size()) {
            return Failure(
                fmt::format(L"The mirror root \"{}\" cannot be made: its drive does not exist", mirrorRoot));
        }
        existing = std::move(parent);
    }
    if (IsFile(existing)) {
        return Failure(
            existing == mirrorRoot
                ? fmt::format(L"The mirror root \"{}\" is a file, not a folder", mirrorRoot)
                : fmt::format(L"The mirror root \"{}\" cannot be made: \"{}\" is a file, not a folder",
                              mirrorRoot, existing));
    }
    const std::wstring probe = TemporaryName(JoinPath(existing, L"orvanectl-probe"));
    FileHandle file(::CreateFileW(SystemPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    DWORD written = 0;
    if (file && !::WriteFile(file.Get(), "probe", 5, &written, nullptr)) {
        error = ::GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        return Failure(
            existing == mirrorRoot
                ? fmt::format(L"The mirror root \"{}\" cannot be written to: {}", mirrorRoot,
                              ErrorText(error))
                : fmt::format(L"The mirror root \"{}\" cannot be made: \"{}\" cannot be written to: {}",
                              mirrorRoot, existing, ErrorText(error)));
    }
    return Success();
}

Outcome<Ok> CheckReleasePaths(const std::vector<NamedFile>& files) {
    std::vector<std::wstring> lines;
    for (const NamedFile& file : files) {
        if (const auto problem = PathProblem(file.path)) {
            lines.push_back(fmt::format(L"\"{}\" cannot be published: {}", file.source, *problem));
        }
    }
    // A Windows folder cannot hold two names that differ only in case.
    std::vector<const NamedFile*> byName;
    for (const NamedFile& file : files) {
        byName.push_back(&file);
    }
    std::sort(byName.begin(), byName.end(), [](const NamedFile* a, const NamedFile* b) {
        return CompareIgnoringCase(a->path, b->path) < 0;
    });
    for (size_t i = 1; i < byName.size(); ++i) {
        if (CompareIgnoringCase(byName[i - 1]->path, byName[i]->path) == 0) {
            lines.push_back(fmt::format(L"\"{}\" and \"{}\" differ only in case; a game folder on "
                                        L"Windows cannot hold both",
                                        byName[i - 1]->path, byName[i]->path));
        }
    }
    if (lines.empty()) {
        return Success();
    }
    std::wstring message;
    for (const std::wstring& line : lines) {
        message += line + L"\n";
    }
    message += fmt::format(L"{} {} of the game folder cannot be published as named; rename and publish again",
                           lines.size(), lines.size() == 1 ? L"name" : L"names");
    return Failure(std::move(message));
}

Outcome<std::wstring> ReleaseNotesPath(const std::wstring& given, const std::vector<NamedFile>& files) {
    using Result = Outcome<std::wstring>;
    std::wstring wanted = given;
    std::replace(wanted.begin(), wanted.end(), L'\\', L'/');
    const auto file = std::find_if(files.begin(), files.end(), [&](const NamedFile& f) {
        return CompareIgnoringCase(f.path, wanted) == 0;
    });
    if (file == files.end()) {
        return Result::Failure(fmt::format(L"--notes \"{}\" names no file of the release: give the path of a "
                                           L"text file below the game folder",
                                           given));
    }
    if (auto text = ReadNotesFile(file->source); !text) {
        return Result::Failure(
            fmt::format(L"--notes \"{}\" cannot be shown by launchers ({}): the notes must "
                        L"be UTF-8 text of at most 64 KiB",
                        file->source, text.message));
    }
    return Result::Success(file->path);
}

Outcome<std::wstring> ReleaseClientVersion(const std::wstring& given, const std::wstring& versionFile) {
    using Result = Outcome<std::wstring>;
    std::optional<std::string> found;
    if (!versionFile.empty()) {
        auto text = ReadWholeFile(versionFile, kVersionFileLimit);
        if (!text) {
            return Result::Failure(text.message);
        }
        found = ClientVersionIn(*text.value);
    }
    if (!found) {
        return given.empty() ? Result::Failure(L"publish needs --client-version: the game folder has no "
                                               L"VersionInfo.ver with a ClientVersion line to take it from")
                             : Result::Success(given);
    }
    const std::wstring inFile = Utf8ToWide(*found);
    if (given.empty()) {
        if (inFile.empty() || !IsValidUtf8(*found) ||
            std::any_of(inFile.begin(), inFile.end(), [](wchar_t c) { return c < L' ' || c == 0x7F; })) {
            return Result::Failure(fmt::format(L"publish needs --client-version: the ClientVersion line of "
                                               L"\"{}\" holds no version it can take",
                                               versionFile));
        }
        return Result::Success(inFile);
    }
    if (inFile != given) {
        return Result::Failure(fmt::format(
            L"\"{}\" says ClientVersion \"{}\", but --client-version is \"{}\". The launcher writes the "
            L"client "
            L"version into that file after an update, so every launcher would download it again at every "
            L"start. Give --client-version {} (or leave it out), or correct the file",
            versionFile, inFile, given, inFile));
    }
    return Result::Success(given);
}

std::optional<Manifest> ServedRelease(const std::wstring& mirrorRoot) {
    auto text =
        ReadWholeFile(JoinPath(mirrorRoot, DownloadServer::kManifestName), DownloadServer::kManifestLimit);
    if (!text) {
        return std::nullopt;
    }
    auto parsed = ParseManifest(std::move(*text.value));
    if (!parsed) {
        return std::nullopt;
    }
    return std::move(*parsed.value);
}

Outcome<Ok> CheckReleaseOrder(const std::optional<Manifest>& served, const std::wstring& mirrorRoot,
                              int32_t release) {
    if (served && served->release > release) {
        return Failure(
            fmt::format(L"The mirror \"{}\" serves release {}: release {} is older, which launchers "
                        L"with a release key refuse. Publish release {} or higher.",
                        mirrorRoot, served->release, release, served->release));
    }
    return Success();
}

Outcome<Ok> CheckSameRelease(const std::optional<Manifest>& served, const std::wstring& mirrorRoot,
                             const Manifest& release, bool force) {
    if (!served || served->release != release.release || force) {
        return Success();
    }
    using Row = std::tuple<std::string, uint64_t, char>;
    std::map<std::wstring, Row> before;
    for (const FileEntry& entry : served->files) {
        before[entry.path] = {entry.sha256, entry.size, entry.kind};
    }
    std::vector<std::wstring> differing;
    for (const FileEntry& entry : release.files) {
        const auto it = before.find(entry.path);
        if (it == before.end() || it->second != Row{entry.sha256, entry.size, entry.kind}) {
            differing.push_back(entry.path);
        }
        if (it != before.end()) {
            before.erase(it);
        }
    }
    for (const auto& gone : before) {
        differing.push_back(gone.first);
    }
    std::sort(differing.begin(), differing.end());
    std::vector<std::wstring> changes;
    if (!differing.empty()) {
        changes.push_back(fmt::format(L"{} {}: {}", differing.size(),
                                      differing.size() == 1 ? L"file differs" : L"files differ",
                                      SomePaths(differing)));
    }
    if (served->clientVersion != release.clientVersion) {
        changes.push_back(
            fmt::format(L"client version \"{}\", now \"{}\"", served->clientVersion, release.clientVersion));
    }
    if (served->server != release.server) {
        changes.push_back(fmt::format(L"server \"{}\", now \"{}\"", served->server, release.server));
    }
    if (served->launch != release.launch) {
        changes.push_back(fmt::format(L"launch \"{}\", now \"{}\"", served->launch, release.launch));
    }
    if (served->notes != release.notes) {
        changes.push_back(fmt::format(L"notes \"{}\", now \"{}\"", served->notes, release.notes));
    }
    if (changes.empty()) {
        return Success();
    }
    std::wstring what;
    for (const std::wstring& change : changes) {
        what += (what.empty() ? L"" : L"; ") + change;
    }
    return Failure(fmt::format(L"The mirror \"{}\" serves release {} with other content ({}). Players who "
                               L"hold release {} would not be told of the change: publish it as release {} "
                               L"or higher, or give --force to replace release {}.",
                               mirrorRoot, release.release, what, release.release,
                               static_cast<int64_t>(release.release) + 1, release.release));
}

} // namespace Orv::Publisher
