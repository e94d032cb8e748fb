#include "tapwick/app/status_icon.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace tapwick {

namespace {

// One person: a head and the arc of the shoulders, centred on x in a 64-unit square.
void addPerson(QPainterPath& path, qreal x) {
  path.addEllipse(QPointF(x, 22), 8, 8);
  path.moveTo(x + 14, 48);
  path.arcTo(QRectF(x - 14, 34, 28, 28), 0, 180);
  path.closeSubpath();
}

QPainterPath figure() {
  QPainterPath path;
  addPerson(path, 14);
  addPerson(path, 50);
  // The dotted line between them.
  for (const qreal x : {27.0, 32.0, 37.0}) path.addEllipse(QPointF(x, 40), 1.8, 1.8);
  return path;
}

// The lighter or darker of black and white, whichever stands out against `colour`.
QColor contrasting(const QColor& colour) {
  return colour.lightnessF() > 0.5 ? QColor(0, 0, 0, 200) : QColor(255, 255, 255, 220);
}

}  // namespace

QIcon makeStatusIcon() {
  return makeStatusIcon(QGuiApplication::palette().color(QPalette::WindowText));
}

QIcon makeStatusIcon(const QColor& colour) {
  const QPainterPath path = figure();
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    // The outline first, wide, so that the fill covers its inner half.
    painter.setPen(QPen(contrasting(colour), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(path);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace tapwick
