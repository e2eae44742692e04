#include "ui/setup_window.h"

#include "core/app_state.h"
#include "core/com_ptr.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/install_location.h"
#include "install/installation.h"
#include "install/process_launch.h"
#include "ui/controls.h"
#include "ui/ui_state.h"

#include <objbase.h>
#include <shobjidl.h>

namespace Orv {
namespace {

// The edit box's text is read into this many characters, the terminator included.
constexpr int kFolderTextLimit = 520;

} // namespace

void CreateSetupControls() {
    UiState& ui = Ui();
    ui.statusLabel = CreateControl(L"STATIC",
                                   Pick(L"Orvane setup. The launcher is installed into this folder and "
                                        L"downloads the game (about 5.3 GB).",
                                        L"Orvane kurulumu. Launcher bu klasöre kurulur, oyun dosyalarını "
                                        L"(yaklaşık 5,3 GB) kendisi indirir."),
                                   SS_LEFT, 30, 112, 700, 44, 0);
    CreateControl(L"STATIC", Pick(L"Install folder", L"Kurulum klasörü"), SS_LEFT, 30, 180, 400, 20, 0,
                  ui.smallFont);
    ui.folderEdit = CreateControl(L"EDIT", DefaultInstallFolder().c_str(), WS_BORDER | ES_AUTOHSCROLL, 30,
                                  204, 580, 30, IdInstallFolder);
    ui.browseButton =
        CreateControl(L"BUTTON", Pick(L"Browse...", L"Gözat..."), BS_OWNERDRAW, 620, 202, 110, 34, IdBrowse);
    ui.shortcutCheck = CreateControl(L"BUTTON", Pick(L"Create a desktop shortcut", L"Masaüstüne kısayol koy"),
                                     BS_AUTOCHECKBOX, 30, 252, 400, 24, IdDesktopShortcut);
    // Themed, the check box would ignore the window's colours.
    TurnOffVisualStyle(ui.shortcutCheck);
    ::SendMessageW(ui.shortcutCheck, BM_SETCHECK, BST_CHECKED, 0);
    CreateControl(L"STATIC",
                  Pick(L"No administrator rights needed. To remove: Settings > Apps > Orvane.",
                       L"Yönetici izni gerekmez. Kaldırmak için: Ayarlar > Uygulamalar > Orvane."),
                  SS_LEFT, 30, 296, 700, 20, 0, ui.smallFont);
    ui.installButton = CreateControl(L"BUTTON", Pick(L"INSTALL", L"KUR"), BS_OWNERDRAW, 530, 374, 200, 56,
                                     IdInstall, ui.bigFont);
}

void BrowseForFolder() {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  dialog.PutVoid()))) {
        return;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    // Cancelled or not shown: the edit box keeps its text.
    if (FAILED(dialog->Show(Ui().mainWindow))) {
        return;
    }
    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.Put()))) {
        return;
    }
    CoTaskMemory<wchar_t> path;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.Put())) || path.Get() == nullptr) {
        return;
    }
    ::SetWindowTextW(Ui().folderEdit, InstallFolderForPick(path.Get()).c_str());
}

void OnInstallPressed() {
    const UiState& ui = Ui();
    wchar_t folder[kFolderTextLimit] = {};
    ::GetWindowTextW(ui.folderEdit, folder, kFolderTextLimit);
    const bool desktopShortcut = ::SendMessageW(ui.shortcutCheck, BM_GETCHECK, 0, 0) == BST_CHECKED;
    RunInstallation(folder, desktopShortcut, true);
}

void RunInstallation(const std::wstring& folder, bool desktopShortcut, bool startAfterwards) {
    // Null when installing from the command line: the boxes then have no owner.
    HWND window = Ui().mainWindow;
    if (!IsAcceptableInstallFolder(folder)) {
        ::MessageBoxW(window, InstallFolderRefusal().c_str(), kWindowTitle, MB_OK | MB_ICONWARNING);
        return;
    }
    const InstallResult result = Install(folder, desktopShortcut);
    if (!result.ok) {
        ::MessageBoxW(window, result.message.c_str(), kWindowTitle, MB_OK | MB_ICONERROR);
        App().exitCode = kExitFailed;
        return;
    }
    if (startAfterwards) {
        // When it cannot start, the reason is logged and the setup window closes all the same.
        LaunchProcess(JoinPath(folder, kInstalledExeName), L"", folder);
    }
    if (window != nullptr) {
        ::DestroyWindow(window);
    }
}

} // namespace Orv
