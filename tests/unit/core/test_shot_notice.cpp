#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <vector>

#include "core/screenshot_taker.h"
#include "core/shot_notice.h"
#include "sys/text_codec.h"
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

// The notice follows the screenshots: a failed upload brings the network
// text, a picture that cannot be kept the disk text, once per lesson, while
// the log hears of every tick. Each text fits the notice.
TEST(ShotNotice, FollowsTheScreenshotsWithTheTextOfTheirTrouble) {
  QTemporaryDir dir;
  ASSERT_TRUE(testsupport::writeFile(dir.filePath("screen_pic").toStdString(), "not a folder"));
  std::vector<unsigned char> pixels(8 * 8 * 3, 0);
  pixels[0] = 255;  // not blank
  ScreenshotTaker taker;
  taker.setFrameSource([&](platform::ScreenFrame& frame) {
    frame = {8, 8, platform::PixelLayout::Rgb, pixels.data()};
    return true;
  });
  taker.setUploader([](const std::string&, const std::string&, std::stop_token) { return std::string(); });
  ShotNotice notice;
  notice.setTimings(1, 50);
  std::vector<std::string> log;
  followScreenshots(taker, notice, nullptr, [&](const std::string& line) { log.push_back(line); });
  const auto* message = notice.findChild<QLabel*>("messageLabel");
  ASSERT_TRUE(message);
  ScreenshotJob job;
  job.dataDir = dir.path().toStdString();
  job.lesson.processID = "P1";

  job.counter = 2;
  taker.tick(job);
  EXPECT_TRUE(notice.isVisible());
  EXPECT_EQ(message->text(), ShotNotice::text(ShotNotice::Message::NotSaved));
  EXPECT_LE(message->heightForWidth(message->width()), message->height());
  const QString picture =
      QDir(QString::fromStdString(testsupport::programDir())).absoluteFilePath("../tests/artefacts/");
  QDir().mkpath(picture);
  ASSERT_TRUE(testsupport::waitFor([&] { return notice.height() == ShotNotice::kHeight; }));
  notice.grab().save(picture + "/shot_notice_not_saved.png");
  ASSERT_TRUE(testsupport::waitFor([&] { return !notice.isVisible(); }));
  job.counter = 3;
  taker.tick(job);
  EXPECT_FALSE(notice.isVisible()) << "told twice in one lesson";
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(text::gbkToUtf8(log[1]).rfind("截图无法保存：", 0), 0u) << log[1];

  // The picture can be kept now; its upload gets no answer.
  std::filesystem::remove(dir.filePath("screen_pic").toStdString());
  job.counter = 4;
  taker.tick(job);
  ASSERT_TRUE(testsupport::waitFor([&] { return notice.isVisible(); }));
  EXPECT_EQ(message->text(), ShotNotice::text(ShotNotice::Message::NotSent));
  EXPECT_LE(message->heightForWidth(message->width()), message->height());
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2], text::utf8ToGbk("截图上传失败，图片留在本机：") + taker.lastScreenshotPath());

  // An answered upload is a line of the log too, so the log shows each one.
  ASSERT_TRUE(testsupport::waitFor([&] { return taker.uploadsRunning() == 0; }));
  taker.setUploader(
      [](const std::string&, const std::string&, std::stop_token) { return std::string("{}"); });
  job.counter = 5;
  taker.tick(job);
  ASSERT_TRUE(testsupport::waitFor([&] { return log.size() == 4u; }));
  EXPECT_EQ(log[3], text::utf8ToGbk("截图已上传：") + taker.lastScreenshotPath());

  // A screen that comes out all black in the next lesson: the screen text.
  ASSERT_TRUE(testsupport::waitFor([&] { return !notice.isVisible(); }));
  pixels[0] = 0;
  job.lesson.processID = "P2";
  job.counter = 2;
  taker.tick(job);
  ASSERT_TRUE(testsupport::waitFor([&] { return notice.isVisible(); }));
  EXPECT_EQ(message->text(), ShotNotice::text(ShotNotice::Message::NotCaptured));
  EXPECT_LE(message->heightForWidth(message->width()), message->height());
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(text::gbkToUtf8(log[4]).rfind("截图全黑：", 0), 0u) << log[4];
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
