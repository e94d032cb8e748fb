#include "tapwick/app/popover.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace tapwick {

Popover::Popover(QWidget* content) : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint) {
  setObjectName("popover");
  setWindowTitle("Tapwick");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  content->setParent(this);
  layout->addWidget(content);
  resize(500, 630);
}

void Popover::setContentSize(int width, int height) {
  setFixedSize(width, height);
  if (isVisible()) place();
}

QRect Popover::placement(const QSize& size, const QRect& anchor, const QRect& screen) {
  QPoint origin(anchor.left(), anchor.bottom() + 1);
  if (origin.y() + size.height() > screen.bottom() + 1) origin.ry() = anchor.top() - size.height();
  origin.rx() = std::clamp(origin.x(), screen.left(),
                           std::max(screen.left(), screen.right() + 1 - size.width()));
  origin.ry() = std::clamp(origin.y(), screen.top(),
                           std::max(screen.top(), screen.bottom() + 1 - size.height()));
  return {origin, size};
}

void Popover::place() {
  const QRect anchor = anchor_.isEmpty() ? QRect(QCursor::pos(), QSize(1, 1)) : anchor_;
  QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  setGeometry(placement(size(), anchor, screen->availableGeometry()));
}

void Popover::hideEvent(QHideEvent* event) {
  hiddenFor_.start();
  QWidget::hideEvent(event);
}

void Popover::toggle(const QRect& anchor) {
  if (isVisible()) {
    hide();
    return;
  }
  if (hiddenFor_.isValid() && hiddenFor_.elapsed() < 250) return;
  anchor_ = anchor;
  place();
  show();
  raise();
  activateWindow();
}

}  // namespace tapwick
