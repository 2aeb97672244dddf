#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <vector>

#include "core/shot_notice.h"
#include "tests/support/test_support.h"

namespace {

const QRect kWorkArea(0, 0, 1024, 740);

TEST(ShotNotice, SlidesUpAtTheWorkAreasCornerWithItsTexts) {
  ShotNotice notice;
  notice.popUp(kWorkArea);
  ASSERT_TRUE(notice.isVisible());
  EXPECT_FALSE(notice.isActiveWindow());

  const auto* title = notice.findChild<QLabel*>("titleLabel");
  const auto* message = notice.findChild<QLabel*>("messageLabel");
  ASSERT_TRUE(title && message);
  EXPECT_EQ(title->text(), QStringLiteral("记时提示"));
  EXPECT_EQ(message->text(), QStringLiteral("网络不畅，记时无法正常进行，请检查网络不否能正常上网。"));
  EXPECT_EQ(title->pos(), QPoint(10, 5));
  EXPECT_EQ(message->pos(), QPoint(10, 40));
  EXPECT_TRUE(message->wordWrap());

  // Its bottom stays on the work area's bottom while it grows into view.
  ASSERT_TRUE(testsupport::waitFor([&] { return notice.height() == ShotNotice::kHeight; }));
  EXPECT_EQ(notice.geometry(), QRect(1024 - 18 - 181, 740 - 116, 181, 116));
}

TEST(ShotNotice, StandsInTheCornerOfAnyMonitorsWorkArea) {
  // A second monitor to the right whose panel takes 40 pixels at the bottom.
  EXPECT_EQ(ShotNotice::placeIn(QRect(1920, 0, 1280, 984)),
            QRect(1920 + 1280 - 18 - 181, 984 - 116, 181, 116));
  EXPECT_EQ(ShotNotice::placeIn(QRect(0, 30, 800, 570)), QRect(800 - 18 - 181, 600 - 116, 181, 116));
}

TEST(ShotNotice, OnlyALeftPressInTheCloseBoxHidesIt) {
  struct Case {
    QPoint at;
    Qt::MouseButton button;
    bool hides;
  };
  const std::vector<Case> cases{
      {{162, 6}, Qt::LeftButton, true},   {{175, 19}, Qt::LeftButton, true},
      {{169, 13}, Qt::LeftButton, true},  {{176, 13}, Qt::LeftButton, false},
      {{169, 20}, Qt::LeftButton, false}, {{161, 13}, Qt::LeftButton, false},
      {{169, 5}, Qt::LeftButton, false},  {{90, 60}, Qt::LeftButton, false},
      {{20, 10}, Qt::LeftButton, false},  {{169, 13}, Qt::RightButton, false},
  };
  for (const Case& c : cases) {
    ShotNotice notice;
    notice.setTimings(1, 600000);
    notice.popUp(kWorkArea);
    ASSERT_TRUE(testsupport::waitFor([&] { return notice.height() == ShotNotice::kHeight; }));
    QTest::mousePress(&notice, c.button, {}, c.at);
    EXPECT_EQ(notice.isHidden(), c.hides) << c.at.x() << "," << c.at.y();
  }
}

TEST(ShotNotice, StaysItsTimeThenSlidesAwayByItself) {
  ShotNotice notice;
  notice.setTimings(30, 60);
  notice.popUp(kWorkArea);
  ASSERT_TRUE(testsupport::waitFor([&] { return notice.height() == ShotNotice::kHeight; }));
  ASSERT_TRUE(testsupport::waitFor([&] { return notice.isHidden(); }));
  // A later failure brings it back in full.
  notice.popUp(kWorkArea);
  EXPECT_TRUE(notice.isVisible());
  EXPECT_TRUE(testsupport::waitFor([&] { return notice.height() == ShotNotice::kHeight; }));
}

}  // namespace
