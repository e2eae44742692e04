#pragma once
#include <string>

// The release's notes in the launcher window: a read-only, scrollable text in the room the download rows
// leave once a run has ended well.
namespace Orv {

// Creates the notes control, hidden; after the other launcher-mode controls, so last in the tab order.
void CreateNotesView();

// Shows the text (CR LF line ends) from its top, or hides the control when the text is empty.
void ShowNotes(const std::wstring& text);

// Hides the control and empties it, as a new run starts.
void HideNotes();

} // namespace Orv
