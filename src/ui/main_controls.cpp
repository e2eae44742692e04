#include "ui/main_controls.h"

#include "core/text.h"
#include "ui/controls.h"
#include "ui/link_label.h"
#include "ui/notes_view.h"
#include "ui/ui_state.h"
#include "update/run_texts.h"

#include <uxtheme.h>

namespace Orv {

std::wstring LogLinkTip() {
    return Pick(L"Open the log in your text editor", L"Günlüğü metin düzenleyicinizde açın");
}

void CreateMainControls() {
    UiState& ui = Ui();
    ui.versionLabel = CreateControl(L"STATIC", L"", SS_RIGHT, 440, 30, 290, 20, 0, ui.smallFont);
    ui.statusLabel =
        CreateControl(L"STATIC", PreparingText().c_str(), SS_LEFT | SS_EDITCONTROL, 30, 112, 700, 44, 0);
    ui.mainBar = CreateProgressBar(30, 168, 700, 16);
    ui.detailLabel = CreateControl(L"STATIC", L"", SS_LEFT | SS_EDITCONTROL | SS_NOTIFY, 30, 190, 700, 20,
                                   IdDetails, ui.smallFont);
    MakeLink(ui.detailLabel, ui.detailLook);
    ui.detailTip = AddTooltip(ui.detailLabel, LogLinkTip());
    SetTooltip(ui.detailTip, ui.detailLabel, LogLinkTip(), false);
    for (int row = 0; row < kRows; ++row) {
        ui.rowLabels[row] =
            CreateControl(L"STATIC", L"", SS_PATHELLIPSIS, 30, 232 + 28 * row, 560, 20, 0, ui.smallFont);
        ui.rowBars[row] = CreateProgressBar(600, 238 + 28 * row, 130, 8);
    }
    ui.repairButton =
        CreateControl(L"BUTTON", Pick(L"Repair", L"Onar"), BS_OWNERDRAW, 30, 382, 120, 44, IdRepair);
    ui.folderButton = CreateControl(L"BUTTON", Pick(L"Game folder", L"Oyun klasörü"), BS_OWNERDRAW, 162, 382,
                                    140, 44, IdGameFolder);
    ui.playButton = CreateControl(L"BUTTON", Pick(L"PLAY", L"BAŞLAT"), BS_OWNERDRAW, 530, 374, 200, 56,
                                  IdPlay, ui.bigFont);
    ui.languageLabel = CreateControl(L"STATIC", Pick(L"Game language", L"Oyun dili"), SS_LEFT, 318, 372, 180,
                                     18, 0, ui.smallFont);
    ui.languageBox = CreateControl(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 318, 392,
                                   180, 300, IdLanguage);
    ::SetWindowTheme(ui.languageBox, L"DarkMode_CFD", nullptr);
    CreateNotesView();
    ::EnableWindow(ui.playButton, FALSE);
    ::EnableWindow(ui.repairButton, FALSE);
    // At the right end of the detail line, shown while files download.
    ui.pauseLink =
        CreateControl(L"STATIC", L"", SS_RIGHT | SS_NOTIFY, 630, 190, 100, 20, IdPause, ui.smallFont);
    ::ShowWindow(ui.pauseLink, SW_HIDE);
    MakeLink(ui.pauseLink, ui.pauseLook);
}

} // namespace Orv
