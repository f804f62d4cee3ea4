#include "shell/notification_popup.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "shell/shell_controller.h"

namespace lun {
namespace {

TEST(PopupSlotsTest, FirstFreeSlotAndTheSixthReusesSlotZero) {
  PopupSlots table;
  for (int i = 0; i < PopupSlots::kCount; ++i) EXPECT_EQ(table.Take(), i);
  EXPECT_EQ(table.Take(), 0);
  table.Free(2);
  EXPECT_EQ(table.Take(), 2);
  table.Free(0);
  table.Free(3);
  EXPECT_EQ(table.Take(), 0);
  EXPECT_EQ(table.Take(), 3);
}

TEST(NotificationPopupTest, EachSlotStandsOnePopupHigherBelowTheWorkArea) {
  const QRect area(0, 0, 1024, 740);
  EXPECT_EQ(NotificationPopup::StartPosition(area, 0), QPoint(824, 740));
  EXPECT_EQ(NotificationPopup::StartPosition(area, 1), QPoint(824, 619));
  EXPECT_EQ(NotificationPopup::StartPosition(area, 4), QPoint(824, 740 - 4 * 121));
}

TEST(NotificationPopupTest, SixPopupsOverlapInSlotZeroAndAClickFreesTheSlot) {
  PopupCenter center(ApplicationIcon());
  std::vector<NotificationPopup*> shown;
  for (int i = 0; i < 6; ++i) shown.push_back(center.Show("标题", QString("消息 %1").arg(i)));
  EXPECT_EQ(shown[5]->slot(), 0);
  EXPECT_EQ(shown[1]->slot(), 1);
  for (int i = 0; i < PopupSlots::kCount; ++i) EXPECT_TRUE(center.slot_table().taken(i));
  EXPECT_EQ(shown[0]->size(), QSize(200, 120));
  EXPECT_EQ(shown[0]->cursor().shape(), Qt::PointingHandCursor);

  QSignalSpy closed(shown[1], &QObject::destroyed);
  QTest::mouseClick(shown[1], Qt::LeftButton);
  EXPECT_FALSE(center.slot_table().taken(1));
  // It fades out, closes and deletes itself.
  EXPECT_TRUE(closed.wait(5000));
}

TEST(NotificationPopupTest, SlidesUpByItsOwnHeight) {
  PopupCenter center(ApplicationIcon());
  NotificationPopup* popup = center.Show("标题", "消息");
  const int start = popup->y();
  QTRY_COMPARE_WITH_TIMEOUT(popup->y(), start - NotificationPopup::kHeight, 5000);
}

}  // namespace
}  // namespace lun
