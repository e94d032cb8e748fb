// Popover: the frameless window the tray icon opens. It sits by the icon (or else by the
// cursor), always inside the screen's available area, and closes when it loses focus.
#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

namespace tapwick {

class Popover : public QWidget {
 public:
  explicit Popover(QWidget* content);

  // Shows it by `anchor` (the tray icon's rectangle; empty: the cursor), or hides it if shown.
  void toggle(const QRect& anchor);
  void setContentSize(int width, int height);

  // Where a popover of `size` goes for `anchor` on a screen whose available area is `screen`:
  // below the anchor (above it when there is no room), left edges aligned, kept inside.
  static QRect placement(const QSize& size, const QRect& anchor, const QRect& screen);

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  void place();

  QRect anchor_;
  // A click on the icon first closes the open popup as a click outside it; that click must
  // not open it again.
  QElapsedTimer hiddenFor_;
};

}  // namespace tapwick
