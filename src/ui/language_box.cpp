#include "ui/language_box.h"

#include "core/app_state.h"
#include "lang/game_language.h"
#include "lang/language_list.h"
#include "ui/progress_display.h"
#include "ui/ui_state.h"

namespace Orv {

void FillLanguageList() {
    AppState& app = App();
    UiState& ui = Ui();
    const bool present = LanguagesFilePresent(app.gameFolder);
    ui.languages = LoadLanguages(app.gameFolder);

    ::SendMessageW(ui.languageBox, CB_RESETCONTENT, 0, 0);
    int selected = -1;
    int english = -1;
    for (size_t index = 0; index < ui.languages.size(); ++index) {
        const LanguageEntry& entry = ui.languages[index];
        ::SendMessageW(ui.languageBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.nativeName.c_str()));
        if (entry.code == app.gameLanguage) {
            selected = static_cast<int>(index);
        }
        if (entry.code == "en") {
            english = static_cast<int>(index);
        }
    }
    if (english < 0) {
        english = 0;
    }
    if (selected < 0 && present) {
        app.gameLanguage = ui.languages[english].code;
        SetUiLanguageFromCode(app.gameLanguage);
        RefreshLabels();
        selected = english;
    }
    ::SendMessageW(ui.languageBox, CB_SETCURSEL, static_cast<WPARAM>(selected >= 0 ? selected : english), 0);
    ::EnableWindow(ui.languageBox, present);
    if (app.gameLanguageUnsaved && present) {
        app.gameLanguageUnsaved = !WriteGameLanguage(app.gameFolder, app.gameLanguage);
    }
}

void OnLanguageSelected() {
    AppState& app = App();
    UiState& ui = Ui();
    const LRESULT index = ::SendMessageW(ui.languageBox, CB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= ui.languages.size()) {
        return;
    }
    const std::string& code = ui.languages[static_cast<size_t>(index)].code;
    if (code == app.gameLanguage) {
        return;
    }
    app.gameLanguage = code;
    app.gameLanguageUnsaved = !WriteGameLanguage(app.gameFolder, app.gameLanguage);
    SetUiLanguageFromCode(app.gameLanguage);
    RefreshLabels();
}

} // namespace Orv
