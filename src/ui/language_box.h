#pragma once

namespace Orv {

// Fills the game language list from the game folder and selects the current language; writes the
// default when the language file held none.
void FillLanguageList();

// The player picked an entry of the list: saves it and switches the launcher's own texts.
void OnLanguageSelected();

} // namespace Orv
