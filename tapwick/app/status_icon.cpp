#include "tapwick/app/status_icon.hpp"

#include <QPainter>
#include <QPixmap>

namespace tapwick {

namespace {

// One person: a head and the arc of the shoulders, centred on x in a 64-unit square.
void drawPerson(QPainter& painter, qreal x) {
  painter.drawEllipse(QPointF(x, 22), 8, 8);
  painter.drawChord(QRectF(x - 14, 34, 28, 28), 0, 180 * 16);
}

}  // namespace

QIcon makeStatusIcon(const QColor& colour) {
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    drawPerson(painter, 14);
    drawPerson(painter, 50);
    // The dotted line between them.
    for (const qreal x : {27.0, 32.0, 37.0}) painter.drawEllipse(QPointF(x, 40), 1.8, 1.8);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace tapwick
