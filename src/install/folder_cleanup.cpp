#include "install/folder_cleanup.h"

#include "core/handles.h"
#include "core/held_files.h"
#include "core/paths.h"
#include "install/install_location.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

namespace Orv {
namespace {

struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
};

// The entries of a folder without "." and "..". A listing that fails part way ends there with what
// it has found.
std::vector<FolderEntry> ListFolder(const std::wstring& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data{};
    FindHandle find(::FindFirstFileExW(JoinPath(LongPath(folder), L"*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        return entries;
    }
    do {
        const std::wstring_view name(data.cFileName);
        if (name != L"." && name != L"..") {
            entries.push_back({std::wstring(name), data.dwFileAttributes});
        }
    } while (::FindNextFileW(find.Get(), &data));
    return entries;
}

bool EndsWith(std::wstring_view text, std::wstring_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool IsTopLevelLeftover(const FolderEntry& entry) {
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    return EndsWith(entry.name, L".dmp.txt") || EndsWith(entry.name, L".dmp") ||
           EndsWith(entry.name, L".log");
}

} // namespace

ListedRemoval RemoveListedFiles(const std::wstring& folder, const std::vector<std::wstring>& relativePaths) {
    ListedRemoval removal;
    std::vector<std::wstring> files;
    std::vector<std::wstring> staging;
    for (const std::wstring& relative : relativePaths) {
        files.push_back(JoinPath(folder, relative));
        staging.push_back(files.back() + L".ovnew");
        // The folders named by the path's own components, so none lies outside the install folder.
        for (size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1)) {
            if (at > 0 && relative[at - 1] != L'\\') {
                removal.folders.push_back(JoinPath(folder, relative.substr(0, at)));
            }
        }
    }
    FileDeletion deletion = DeleteFilesWhenFree(files);
    removal.removedFiles = static_cast<uint32_t>(deletion.deleted);
    removal.left = std::move(deletion.left);
    DeleteFilesWhenFree(staging);
    return removal;
}

void RemoveTopLevelLeftovers(const std::wstring& folder) {
    std::vector<std::wstring> leftovers;
    for (const FolderEntry& entry : ListFolder(folder)) {
        if (IsTopLevelLeftover(entry)) {
            leftovers.push_back(JoinPath(folder, entry.name));
        }
    }
    DeleteFilesWhenFree(leftovers);
}

void RemoveTree(const std::wstring& path, const std::wstring& keep) {
    const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (!keep.empty() && SamePath(path, keep))) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileWhenFree(path);
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        for (const FolderEntry& entry : ListFolder(path)) {
            RemoveTree(JoinPath(path, entry.name), keep);
        }
    }
    if (IsEmptyFolder(path) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveFolderWhenFree(path);
    }
}

void PruneFolders(std::vector<std::wstring> folders) {
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) {
        if (IsEmptyFolder(folder)) {
            RemoveFolderWhenFree(folder);
        }
    }
}

bool IsEmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const FindHandle find(::FindFirstFileW(JoinPath(LongPath(folder), L"*").c_str(), &entry));
    if (!find) {
        return false;
    }
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") {
            return false;
        }
    } while (::FindNextFileW(find.Get(), &entry));
    return true;
}

} // namespace Orv
