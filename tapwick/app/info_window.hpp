// The "App Info" window: name, version, last update and a "Contact Me" button that opens the
// pre-filled feedback mail.
#pragma once

#include <QWidget>

namespace tapwick {

class InfoWindow : public QWidget {
 public:
  InfoWindow();
};

}  // namespace tapwick
