#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "courseware/kjsc2.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

using text::gbk;

class QueuePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ClientState = {};
    AppHooks = {};
    AppHooks.switchPage = [this](const std::string& key) { pages.push_back(key); };
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });
    page = std::make_unique<TForm_kjsc2>(nullptr, testsupport::sourcePath("assets"));
    page->workflow().setStepInterval(10);
  }
  void TearDown() override {
    page.reset();
    ui::setMessageSink(nullptr);
    AppHooks = {};
    ClientState = {};
  }

  // The catalog page's choice, which the courseware is registered under.
  void withCatalog(const std::string& catalogID) {
    page->workflow().setSession([catalogID] {
      courseware::UploadSession session = courseware::sessionOfSignIn(ClientState);
      session.catalogID = catalogID;
      return session;
    });
  }

  // A local copy of `bytes` bytes; GBK path as the queue holds it.
  std::string copy(const std::string& name, size_t bytes = 10) {
    std::string path = dir.path().toStdString() + "/" + name;
    EXPECT_TRUE(testsupport::writeFile(path, std::string(bytes, 'x')));
    return text::utf8ToGbk(path);
  }
  void addFiles(int count) {
    for (int i = 1; i <= count; ++i) {
      std::string name = "file" + std::to_string(i) + ".ppt";
      ASSERT_TRUE(page->AddFile("/home/t/" + name, copy(name)));
    }
  }
  template <typename T>
  T* control(const char* name) {
    T* found = page->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString text(const char* label) { return control<QLabel>(label)->text(); }
  bool rowShown(const char* panel) { return !control<QFrame>(panel)->isHidden(); }
  // A hash query answered "the server holds it": the run is uploading.
  void answerKnown() {
    page->workflow().HandleFindReply(
        "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\",\"exist\":true,\"path\":\"\"}");
  }

  QTemporaryDir dir;
  std::unique_ptr<TForm_kjsc2> page;
  std::vector<std::string> pages;
  std::vector<std::string> messages;
};

TEST_F(QueuePage, RowsShowNameSizeAndWaitingState) {
  ASSERT_TRUE(page->AddFile("/src/empty.ppt", copy("empty.ppt", 0)));
  ASSERT_TRUE(page->AddFile("/src/one.doc", copy("one.doc", 1)));
  ASSERT_TRUE(page->AddFile("/src/big.mp4", copy("big.mp4", (1 << 20) + 1)));

  EXPECT_EQ(page->QueuedCount(), 3);
  EXPECT_TRUE(rowShown("panel1") && rowShown("Panel2") && rowShown("Panel3"));
  EXPECT_FALSE(rowShown("Panel4") || rowShown("Panel5"));
  EXPECT_EQ(text("Label11"), "empty.ppt");
  EXPECT_EQ(text("Label21"), "one.doc");
  EXPECT_EQ(text("Label31"), "big.mp4");
  EXPECT_EQ(text("Label12"), "0M");
  EXPECT_EQ(text("Label22"), "1M");
  EXPECT_EQ(text("Label32"), "2M");
  for (const char* state : {"Label13", "Label23", "Label33"})
    EXPECT_EQ(text(state), QString::fromUtf8("等待上传"));
  EXPECT_EQ(page->workflow().SourcePaths()[1], "/src/one.doc");
}

TEST_F(QueuePage, CancellingAMiddleRowMovesTheLaterRowsUp) {
  addFiles(5);
  control<QPushButton>("Button34")->click();

  EXPECT_EQ(page->QueuedCount(), 4);
  EXPECT_EQ(text("Label31"), "file4.ppt");
  EXPECT_EQ(text("Label41"), "file5.ppt");
  EXPECT_FALSE(rowShown("Panel5"));
  EXPECT_TRUE(page->workflow().LocalCopies()[4].empty());
  EXPECT_EQ(page->workflow().SourcePaths()[3], "/home/t/file5.ppt");
  EXPECT_TRUE(pages.empty());
}

TEST_F(QueuePage, RemovingTheLastRowEndsTheRunOnTheFileChoicePage) {
  withCatalog("77");
  addFiles(1);
  answerKnown();
  ASSERT_TRUE(page->Uploading());
  page->suiImageButton6->hide();

  control<QPushButton>("button14")->click();

  EXPECT_EQ(page->QueuedCount(), 0);
  EXPECT_FALSE(page->Uploading());
  EXPECT_FALSE(page->suiImageButton6->isHidden());
  EXPECT_FALSE(rowShown("panel1"));
  EXPECT_EQ(pages, std::vector<std::string>{"suiImageButton3"});
}

TEST_F(QueuePage, NoSixthFileAndNoRemovalPastTheQueue) {
  addFiles(5);
  EXPECT_FALSE(page->AddFile("/src/six.ppt", copy("six.ppt")));
  EXPECT_EQ(page->QueuedCount(), 5);
  EXPECT_TRUE(page->workflow().LocalCopies()[5].empty());

  page->ResetQueue();
  EXPECT_FALSE(rowShown("panel1"));
  // A cancel that reaches an emptied queue changes nothing.
  page->RemoveRow(0);
  EXPECT_EQ(page->QueuedCount(), 0);
  ASSERT_TRUE(page->AddFile("/src/one.ppt", copy("one.ppt")));
  EXPECT_EQ(page->workflow().LocalCopies()[0], copy("one.ppt"));
}

TEST_F(QueuePage, ResetEmptiesEverythingAndShowsTheButton) {
  withCatalog("77");
  addFiles(3);
  answerKnown();
  page->suiImageButton6->hide();

  page->ResetQueue();

  EXPECT_EQ(page->QueuedCount(), 0);
  EXPECT_FALSE(page->Uploading());
  EXPECT_TRUE(page->workflow().CurrentName().empty());
  EXPECT_TRUE(page->workflow().CurrentRemotePath().empty());
  EXPECT_FALSE(page->suiImageButton6->isHidden());
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(page->workflow().LocalCopies()[i].empty() && page->workflow().SourcePaths()[i].empty());
  EXPECT_FALSE(rowShown("panel1") || rowShown("Panel2") || rowShown("Panel3"));
}

TEST_F(QueuePage, NothingStartsWithoutACatalog) {
  addFiles(2);
  page->StartNext();
  EXPECT_EQ(text("Label13"), QString::fromUtf8("等待上传"));
  EXPECT_FALSE(page->suiImageButton6->isHidden());
  EXPECT_FALSE(page->Uploading());
}

TEST_F(QueuePage, AnUnreadableCopyStaysQueuedWithoutAHash) {
  withCatalog("77");
  ASSERT_TRUE(page->AddFile("/src/gone.ppt", gbk("/nonexistent/课件.ppt")));
  page->StartNext();
  EXPECT_EQ(text("Label13"), QString::fromUtf8("正在上传文件......"));

  ASSERT_TRUE(testsupport::waitFor([this] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{gbk("读取文件失败，文件名为：/nonexistent/课件.ppt")});
  EXPECT_EQ(page->QueuedCount(), 1);
  EXPECT_FALSE(page->Uploading());
  EXPECT_TRUE(page->workflow().CurrentHash().empty());
  // Nothing runs any more: the row says so and the button is back.
  EXPECT_EQ(text("Label13"), QString::fromUtf8("等待上传"));
  EXPECT_FALSE(page->suiImageButton6->isHidden());
}

TEST_F(QueuePage, CatalogButtonOpensTheCatalogPageUnlessUploading) {
  int opened = 0;
  page->setOpenCatalogPage([&opened] { ++opened; });
  addFiles(1);
  page->suiImageButton6->click();
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(messages.empty());

  answerKnown();
  page->suiImageButton6->click();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(messages, std::vector<std::string>{gbk("正在上传课件，请稍等！！！")});
}

}  // namespace
