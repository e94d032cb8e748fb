// The tray icon: two people joined by a dotted line, drawn in one colour.
#pragma once

#include <QColor>
#include <QIcon>

namespace tapwick {

// White by default, as tray icons on dark panels are; the messaging screen draws it in green.
QIcon makeStatusIcon(const QColor& colour = Qt::white);

}  // namespace tapwick
