#include "orvanectl/tree_walk.h"

#include "core/handles.h"
#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"

#include <windows.h>

#include <fmt/xchar.h>

namespace Orv::Publisher {
namespace {

// Identifies a folder across the names that lead to it.
struct FolderIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FolderIdentity&) const = default;
};

Outcome<FolderIdentity> IdentityOf(const std::wstring& folder) {
    FileHandle handle(::CreateFileW(SystemPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !::GetFileInformationByHandle(handle.Get(), &info)) {
        return Outcome<FolderIdentity>::Failure(
            fmt::format(L"Cannot open the folder \"{}\": {}", folder, ErrorText(::GetLastError())));
    }
    return Outcome<FolderIdentity>::Success(
        {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow});
}

class TreeWalk {
public:
    TreeWalk(const std::wstring& root, const std::vector<std::wstring>& skip) : root_(root), skip_(skip) {}

    Outcome<Ok> Walk(const std::wstring& relative) {
        const std::wstring folder = relative.empty() ? root_ : JoinPath(root_, relative);
        auto identity = IdentityOf(folder);
        if (!identity) {
            return Failure(identity.message);
        }
        for (const FolderIdentity& above : ancestors_) {
            if (above == *identity.value) {
                listing.loops.push_back(relative);
                return Success();
            }
        }
        ancestors_.push_back(*identity.value);
        auto listed = WalkEntries(folder, relative);
        ancestors_.pop_back();
        return listed;
    }

    TreeListing listing;

private:
    Outcome<Ok> WalkEntries(const std::wstring& folder, const std::wstring& relative) {
        WIN32_FIND_DATAW data{};
        FindHandle find(::FindFirstFileExW(SystemPath(JoinPath(folder, L"*")).c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!find) {
            return Failure(
                fmt::format(L"Cannot list the folder \"{}\": {}", folder, ErrorText(::GetLastError())));
        }
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring childRelative = relative.empty() ? name : relative + L"\\" + name;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (IsSkipped(JoinPath(folder, name))) {
                    continue;
                }
                if (auto walked = Walk(childRelative); !walked) {
                    return walked;
                }
            } else {
                listing.files.push_back(
                    {childRelative, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
            }
        } while (::FindNextFileW(find.Get(), &data));
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_MORE_FILES) {
            return Failure(fmt::format(L"Cannot list the folder \"{}\": {}", folder, ErrorText(error)));
        }
        return Success();
    }

    bool IsSkipped(const std::wstring& path) const {
        for (const std::wstring& skipped : skip_) {
            if (CompareIgnoringCase(path, skipped) == 0) {
                return true;
            }
        }
        return false;
    }

    const std::wstring& root_;
    const std::vector<std::wstring>& skip_;
    std::vector<FolderIdentity> ancestors_;
};

} // namespace

Outcome<TreeListing> ListTree(const std::wstring& folder, const std::vector<std::wstring>& skip) {
    TreeWalk walk(folder, skip);
    if (auto walked = walk.Walk({}); !walked) {
        return Outcome<TreeListing>::Failure(walked.message);
    }
    return Outcome<TreeListing>::Success(std::move(walk.listing));
}

} // namespace Orv::Publisher
