// The tray icon: two people joined by a dotted line, drawn in one colour with an outline of a
// contrasting one, so that it shows on light and dark trays alike.
#pragma once

#include <QColor>
#include <QIcon>

namespace tapwick {

// In the palette's window-text colour, outlined in its window colour, unless a colour is given
// (the messaging screen draws it in green).
QIcon makeStatusIcon();
QIcon makeStatusIcon(const QColor& colour);

}  // namespace tapwick
