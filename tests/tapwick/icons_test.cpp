// The drawn pictures: the tray icon stands out on light and dark trays, and every button icon
// draws something at the sizes the screens use (Qt's offscreen platform, no display).
#include "tapwick/app/icons.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "tapwick/app/status_icon.hpp"

namespace tapwick {
namespace {

// One application for the whole run, never destroyed: Qt's own statics go away after it.
QApplication& application() {
  static int argc = 1;
  static char name[] = "icons_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

// The share of the icon's pixels, laid over `tray`, whose lightness differs from the tray's
// by at least a third of the scale.
double standsOut(const QIcon& icon, const QColor& tray) {
  QImage image(22, 22, QImage::Format_ARGB32);
  image.fill(tray);
  QPainter painter(&image);
  icon.paint(&painter, image.rect());
  painter.end();
  int distinct = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const double difference = std::abs(image.pixelColor(x, y).lightnessF() - tray.lightnessF());
      if (difference >= 1.0 / 3) ++distinct;
    }
  }
  return static_cast<double>(distinct) / (image.width() * image.height());
}

TEST(StatusIcon, StandsOutOnLightAndDarkTrays) {
  application();
  const QIcon icon = makeStatusIcon();
  for (const QColor tray : {QColor(0xd6, 0xd6, 0xd6), QColor(0xf5, 0xf5, 0xf5),
                            QColor(0x40, 0x40, 0x40), QColor(0x20, 0x20, 0x20)}) {
    EXPECT_GT(standsOut(icon, tray), 0.10) << tray.name().toStdString();
  }
}

TEST(ButtonIcons, DrawSomethingAtEverySize) {
  application();
  for (const QIcon& icon : {copyIcon(), copiedIcon(), logOutIcon(), sendIcon()}) {
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 20, 22}) {
      const QImage image = icon.pixmap(size, size).toImage();
      int painted = 0;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) painted += image.pixelColor(x, y).alpha() > 64;
      }
      EXPECT_GT(painted, size * size / 20) << size;
    }
  }
}

}  // namespace
}  // namespace tapwick
