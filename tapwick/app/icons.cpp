#include "tapwick/app/icons.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace tapwick {

namespace {

// An icon drawn at the usual sizes by `draw`, in a 24-unit square.
QIcon drawn(const std::function<void(QPainter&)>& draw) {
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    draw(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QPen line(const QColor& colour) {
  return QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

const QColor kInk(60, 60, 60);

}  // namespace

QIcon copyIcon() {
  return QIcon::fromTheme("edit-copy", drawn([](QPainter& painter) {
                            painter.setPen(line(kInk));
                            painter.setBrush(Qt::NoBrush);
                            painter.drawRoundedRect(QRectF(4, 4, 11, 13), 2, 2);
                            painter.setBrush(Qt::white);
                            painter.drawRoundedRect(QRectF(9, 8, 11, 13), 2, 2);
                          }));
}

QIcon copiedIcon() {
  // Always drawn: the theme's checkmarks are rarely green.
  return drawn([](QPainter& painter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 160, 60));
    painter.drawEllipse(QRectF(2, 2, 20, 20));
    painter.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({QPointF(7, 12.5), QPointF(10.5, 16), QPointF(17, 8.5)}));
  });
}

QIcon logOutIcon() {
  return drawn([](QPainter& painter) {
    const QColor red(200, 40, 40);
    painter.setPen(line(red));
    painter.drawPolyline(
        QPolygonF({QPointF(11, 4), QPointF(4, 4), QPointF(4, 20), QPointF(11, 20)}));
    painter.drawLine(QPointF(9, 12), QPointF(20, 12));
    painter.drawPolyline(QPolygonF({QPointF(16, 8), QPointF(20, 12), QPointF(16, 16)}));
  });
}

QIcon sendIcon() {
  return QIcon::fromTheme("document-send", drawn([](QPainter& painter) {
                            QPainterPath plane;
                            plane.moveTo(3, 11);
                            plane.lineTo(21, 3);
                            plane.lineTo(14, 21);
                            plane.lineTo(11, 13);
                            plane.closeSubpath();
                            painter.setPen(line(kInk));
                            painter.setBrush(QColor(200, 220, 255));
                            painter.drawPath(plane);
                          }));
}

}  // namespace tapwick
