#pragma once
#include <windows.h>

namespace Orv {

// Paints one owner-drawn button: a rounded face in the button's colours and its centred text.
void DrawButton(const DRAWITEMSTRUCT& item);

} // namespace Orv
