#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDate>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "courseware/copy_and_add.h"
#include "courseware/kjsc.h"
#include "courseware/kjsc2.h"
#include "platform/data_dir.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

using text::gbk;

class FileChoicePage : public ::testing::Test {
 protected:
  void SetUp() override {
    AppHooks = {};
    AppHooks.uploading = [this] { return uploading; };
    AppHooks.queuedCount = [this] { return queued; };
    AppHooks.currentPageKey = [this] { return pageKey; };
    AppHooks.switchPage = [this](const std::string& key) { switched.push_back(key); };
    AppHooks.copyAndAdd = [this](const std::string& path) { added.push_back(path); };
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });
    setLessonRunning(true);
    page.setFileChooser([this](QWidget*) {
      ++dialogs;
      return chosen;
    });
  }
  void TearDown() override {
    ui::setMessageSink(nullptr);
    AppHooks = {};
  }
  void click() { page.findChild<QPushButton*>("suiImageButton6")->click(); }
  void setLessonRunning(bool running) {
    if (running && !lesson.running()) lesson.start("1", {}, "2026-03-02 08:05:00");
    if (!running) lesson.stop();
  }

  Lesson lesson;
  TForm_kjsc page{lesson, testsupport::sourcePath("assets")};
  bool uploading = false;
  int queued = 0;
  std::string pageKey = "suiImageButton3";
  QStringList chosen;
  int dialogs = 0;
  std::vector<std::string> messages, switched, added;
};

TEST_F(FileChoicePage, RefusalsComeInOrderAndQueueNothing) {
  struct Case {
    const char* what;
    bool lesson, uploading;
    int queued, chosen;
    const char* message;
    bool dialogShown;
  };
  const Case cases[] = {
      {"no lesson, even with nothing queued", false, false, 0, 1, "请先开始记时后，再上传课件！！！", false},
      {"no lesson while uploading", false, true, 3, 1, "请先开始记时后，再上传课件！！！", false},
      {"uploading", true, true, 1, 1, "正在上传课件，请稍等！！！", false},
      {"three queued, three more chosen", true, false, 3, 3, "一次最多上传5个文件！！！", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    dialogs = 0;
    setLessonRunning(c.lesson);
    uploading = c.uploading;
    queued = c.queued;
    chosen.clear();
    for (int i = 0; i < c.chosen; ++i) chosen << QString("/home/t/f%1.ppt").arg(i);
    click();
    EXPECT_EQ(messages, std::vector<std::string>{gbk(c.message)});
    EXPECT_EQ(dialogs, c.dialogShown ? 1 : 0);
    EXPECT_TRUE(added.empty());
    EXPECT_TRUE(switched.empty());
  }
}

TEST_F(FileChoicePage, ChosenFilesAreQueuedInOrderAndTheQueuePageShown) {
  queued = 3;
  chosen = {QString::fromUtf8("/home/t/第一课.ppt"), "/home/t/b.doc"};
  click();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(added, (std::vector<std::string>{gbk("/home/t/第一课.ppt"), "/home/t/b.doc"}));
  EXPECT_EQ(switched, std::vector<std::string>{"suiImageButton6"});
}

TEST_F(FileChoicePage, OnTheQueuePageOrWithTheDialogCancelledNoPageChanges) {
  pageKey = "suiImageButton6";
  chosen = {"/home/t/a.ppt"};
  click();
  EXPECT_EQ(added.size(), 1u);

  pageKey = "suiImageButton3";
  chosen.clear();
  click();
  EXPECT_EQ(added.size(), 1u);
  EXPECT_TRUE(switched.empty());
  EXPECT_TRUE(messages.empty());
}

class CopyAndAdd : public ::testing::Test {
 protected:
  void SetUp() override {
    ClientState = {};
    // A teacher of this test alone, so its folder can go afterwards.
    ClientState.teacherName = gbk("王老师") + QDir(dir.path()).dirName().toStdString();
    ClientState.teacherPhone = "13800001234";
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  void TearDown() override {
    QDir(QString::fromStdString(teacherFolder())).removeRecursively();
    ui::setMessageSink(nullptr);
    ClientState = {};
  }
  std::string teacherFolder() const {
    return platform::dataDir() + "/courseware/" + text::gbkToUtf8(ClientState.teacherName) +
           ClientState.teacherPhone;
  }
  std::string source(const std::string& utf8Name, const std::string& content) {
    std::string path = dir.path().toStdString() + "/" + utf8Name;
    EXPECT_TRUE(testsupport::writeFile(path, content));
    return text::utf8ToGbk(path);
  }

  QTemporaryDir dir;
  TForm_kjsc2 queue{nullptr, testsupport::sourcePath("assets")};
  std::vector<std::string> messages;
};

TEST_F(CopyAndAdd, CopiesIntoTheTeachersMonthFolderAndQueuesTheCopy) {
  const std::string month = QDate::currentDate().toString("yyyy-MM").toStdString();
  const std::string first = source("课件.ppt", "first version");
  ASSERT_TRUE(courseware::copyAndAdd(first, queue));

  const std::string onDisk = teacherFolder() + "/" + month + "/课件.ppt";
  EXPECT_EQ(testsupport::readFile(onDisk), "first version");
  EXPECT_EQ(queue.workflow().SourcePaths()[0], first);
  EXPECT_EQ(queue.workflow().LocalCopies()[0], text::utf8ToGbk(onDisk));

  // The same name again replaces the copy and is queued a second time.
  ASSERT_TRUE(testsupport::writeFile(text::gbkToUtf8(first), "second version"));
  ASSERT_TRUE(courseware::copyAndAdd(first, queue));
  EXPECT_EQ(testsupport::readFile(onDisk), "second version");
  EXPECT_EQ(queue.QueuedCount(), 2);
  EXPECT_EQ(QDir(QString::fromStdString(teacherFolder() + "/" + month)).entryList(QDir::Files | QDir::Hidden),
            QStringList{QString::fromUtf8("课件.ppt")});

  // Queuing the copy itself leaves it whole.
  ASSERT_TRUE(courseware::copyAndAdd(queue.workflow().LocalCopies()[0], queue));
  EXPECT_EQ(testsupport::readFile(onDisk), "second version");
  EXPECT_TRUE(messages.empty());
}

// A link or a FIFO planted where the copy goes is moved aside: the copy
// never writes through it nor waits on it.
TEST_F(CopyAndAdd, APlantedLinkOrFifoAtTheCopysNameIsMovedAside) {
  const std::string month = QDate::currentDate().toString("yyyy-MM").toStdString();
  const std::string folder = teacherFolder() + "/" + month;
  std::filesystem::create_directories(folder);
  const std::string victim = dir.path().toStdString() + "/victim";
  ASSERT_TRUE(testsupport::writeFile(victim, "someone else's"));
  for (const bool fifo : {false, true}) {
    const std::string onDisk = folder + (fifo ? "/板书.doc" : "/教案.doc");
    if (fifo)
      ASSERT_EQ(mkfifo(onDisk.c_str(), 0600), 0);
    else
      std::filesystem::create_symlink(victim, onDisk);
    const std::string from = source(fifo ? "板书.doc" : "教案.doc", "the teacher's file");
    ASSERT_TRUE(courseware::copyAndAdd(from, queue)) << fifo;
    EXPECT_EQ(testsupport::readFile(victim), "someone else's");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(onDisk))) << fifo;
    EXPECT_EQ(testsupport::readFile(onDisk), "the teacher's file");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(onDisk + ".unsafe-1"))) << fifo;
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(CopyAndAdd, AFileThatCannotBeCopiedIsNamedAndNotQueued) {
  const std::string missing = gbk("/nonexistent/教案.doc");
  EXPECT_FALSE(courseware::copyAndAdd(missing, queue));
  EXPECT_EQ(messages, std::vector<std::string>{gbk("文件复制失败，文件名为：") + missing});
  EXPECT_EQ(queue.QueuedCount(), 0);
}

}  // namespace
