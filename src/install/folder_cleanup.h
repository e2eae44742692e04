#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Orv {

// What removing the listed files of an installation did: how many were there and went, those that are
// there still (held by a running program), and every folder between a listed file and the install folder.
struct ListedRemoval {
    uint32_t removedFiles = 0;
    std::vector<std::wstring> left;
    std::vector<std::wstring> folders;
};

// Deletes each file (relative to the folder) and its staging leftover "<file>.ovnew", waiting a moment
// for files that another program holds (core/held_files.h). Only the files themselves that were there
// and went are counted.
ListedRemoval RemoveListedFiles(const std::wstring& folder, const std::vector<std::wstring>& relativePaths);

// Deletes the regular files directly in the folder whose names end, case-sensitively, in ".dmp.txt",
// ".dmp" or ".log". A listing that fails part way stops there; what it found is still handled.
void RemoveTopLevelLeftovers(const std::wstring& folder);

// Deletes a file, or a folder with everything in it but the `keep` file (a full path), waiting a moment
// for what another program holds; failures are passed over. A folder that is a link (a reparse point) is
// removed as the link: what it points to is left alone.
void RemoveTree(const std::wstring& path, const std::wstring& keep = {});

// Deletes the folders that exist and are empty, longest path first, so a parent emptied by its
// children goes too. Folders that hold anything stay.
void PruneFolders(std::vector<std::wstring> folders);

// An existing folder with no entry in it; false when it cannot be read.
bool IsEmptyFolder(const std::wstring& folder);

} // namespace Orv
