// The small pictures on the screens' buttons: the desktop theme's icon where the theme has one,
// else one drawn here, so that a button never shows an empty box for a glyph no font holds.
#pragma once

#include <QIcon>

namespace tapwick {

// "Copy code": two overlapping sheets.
QIcon copyIcon();
// After a copy: a green disc with a checkmark.
QIcon copiedIcon();
// "Log out": a door frame with an arrow leaving it, in red.
QIcon logOutIcon();
// "Send": a paper plane.
QIcon sendIcon();

}  // namespace tapwick
