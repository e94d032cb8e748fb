#include <gtest/gtest.h>

#include "tapwick/app/popover.hpp"

namespace tapwick {
namespace {

const QRect kScreen(0, 0, 1280, 800);

TEST(PopoverPlacement, SitsBelowTheIconWithLeftEdgesAligned) {
  EXPECT_EQ(Popover::placement(QSize(400, 260), QRect(100, 0, 22, 22), kScreen),
            QRect(100, 22, 400, 260));
}

TEST(PopoverPlacement, IsPulledBackFromTheRightEdge) {
  // An icon near the right end of a top panel: the popover would end at 1657 otherwise.
  EXPECT_EQ(Popover::placement(QSize(400, 260), QRect(1257, 1, 22, 22), kScreen),
            QRect(880, 23, 400, 260));
}

TEST(PopoverPlacement, OpensAboveAnIconInABottomPanel) {
  EXPECT_EQ(Popover::placement(QSize(500, 400), QRect(600, 776, 24, 24), kScreen),
            QRect(600, 376, 500, 400));
}

TEST(PopoverPlacement, StaysInsideAnAvailableAreaThatDoesNotStartAtTheOrigin) {
  const QRect available(1280, 24, 1024, 744);  // a second screen, below a 24-pixel panel
  const QRect placed = Popover::placement(QSize(500, 630), QRect(1200, 0, 1, 1), available);
  EXPECT_TRUE(available.contains(placed)) << placed.x() << "," << placed.y();
}

TEST(PopoverPlacement, APopoverLargerThanTheScreenStartsAtItsTopLeft) {
  const QRect placed =
      Popover::placement(QSize(500, 630), QRect(10, 10, 1, 1), QRect(0, 0, 320, 240));
  EXPECT_EQ(placed.topLeft(), QPoint(0, 0));
}

}  // namespace
}  // namespace tapwick
