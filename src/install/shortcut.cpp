#include "install/shortcut.h"

#include "core/com_ptr.h"
#include "core/paths.h"
#include "install/install_location.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace Orv {
namespace {

ComPtr<IShellLinkW> NewShellLink() {
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.PutVoid()))) {
        link.Reset();
    }
    return link;
}

} // namespace

std::wstring ShortcutPath(const KNOWNFOLDERID& folder) {
    const std::wstring path = KnownFolderPath(folder);
    return path.empty() ? std::wstring() : JoinPath(path, kShortcutName);
}

bool CreateShortcut(const std::wstring& shortcutPath, const std::wstring& target) {
    ComPtr<IShellLinkW> link = NewShellLink();
    if (!link) {
        return false;
    }
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(ParentFolder(target).c_str());
    link->SetIconLocation(target.c_str(), 0);
    link->SetDescription(L"Orvane");
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) {
        return false;
    }
    return SUCCEEDED(file->Save(shortcutPath.c_str(), TRUE));
}

std::wstring ReadShortcutTarget(const std::wstring& shortcutPath) {
    ComPtr<IShellLinkW> link = NewShellLink();
    if (!link) {
        return {};
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())) ||
        FAILED(file->Load(shortcutPath.c_str(), STGM_READ))) {
        return {};
    }
    wchar_t target[MAX_PATH] = {};
    if (FAILED(link->GetPath(target, MAX_PATH, nullptr, 0))) {
        return {};
    }
    return target;
}

} // namespace Orv
