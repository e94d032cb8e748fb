// The tray icon: two people joined by a dotted line, drawn in one colour.
#pragma once

#include <QIcon>

namespace tapwick {

QIcon makeStatusIcon();

}  // namespace tapwick
