#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "courseware/kjsc3.h"
#include "platform/async_transport.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

using text::gbk;

// A server that answers every request at once, from the event loop, with
// what `answer` gives for its target (a whole HTTP response in UTF-8).
class AnsweringTransport final : public platform::AsyncTransport {
 public:
  std::function<std::string(const std::string& target)> answer;

  void setListener(platform::TransportListener* listener) override { listener_ = listener; }
  int openSocket() override { return ++next_; }
  int startLookup(const std::string&) override {
    int lookup = ++next_;
    later([this, lookup] { listener_->lookupFinished(lookup, {0x7F000001}); });
    return lookup;
  }
  void cancelLookup(int) override {}
  bool watchSocket(int) override { return true; }
  int connect(int socket, platform::Ipv4Address, int) override {
    later([this, socket] {
      listener_->socketConnected(socket, 0);
      listener_->socketWritable(socket);
    });
    return 0;
  }
  long send(int socket, std::string_view bytes) override {
    std::string line(bytes.substr(0, bytes.find("\r\n")));
    std::string target = line.substr(4, line.rfind(' ') - 4);
    std::string reply = answer ? answer(target) : std::string();
    later([this, socket, reply] {
      if (!reply.empty()) listener_->socketReceived(socket, reply);
      listener_->socketClosed(socket, 0);
    });
    return static_cast<long>(bytes.size());
  }
  void closeSocket(int) override {}

 private:
  void later(std::function<void()> step) { QTimer::singleShot(0, std::move(step)); }
  platform::TransportListener* listener_ = nullptr;
  int next_ = 0;
};

std::string httpReply(const std::string& jsonUtf8) { return "HTTP/1.1 200 OK\r\n\r\n" + jsonUtf8; }

class CatalogPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ClientState = {};
    ClientState.serverPath = "/";
    ClientState.schoolID = "41";
    AppHooks = {};
    AppHooks.appendLog = [this](const std::string& line) { log.push_back(line); };
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });
    client.setServer("edu.example", 80);
    page.setStartNext([this] { ++starts; });
    db.exec(
        "insert into t_grade values('1','g1','一年级 ','41');"
        "insert into t_grade values('2','g2','二年级 ','41');"
        "insert into t_grade values('3','g9','九年级 ','99');"
        "insert into t_subject values('1','s1','语文 ','g1');"
        "insert into t_subject values('2','s2','数学 ','g1');"
        "insert into t_subject values('3','s3','英语 ','g2');"
        "insert into t_catalog values('1','c1','第一章 ','g1','s1');"
        "insert into t_catalog values('2','c2','第二章 ','g1','s2');");
  }
  void TearDown() override {
    ui::setMessageSink(nullptr);
    AppHooks = {};
    ClientState = {};
  }

  static QStringList items(QComboBox* list) {
    QStringList all;
    for (int i = 0; i < list->count(); ++i) all << list->itemText(i);
    return all;
  }
  static void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  }
  // Runs the event loop until the request sent last has been handled.
  void settle() {
    ASSERT_TRUE(testsupport::waitFor([this] { return !client.timeoutRunning(); }));
  }
  // The request started last, and whether one is still waiting for its
  // answer (none is once the last has been handled).
  std::string lastOperation() const {
    const std::string& target = client.lastPathAndQuery();
    return target.empty() ? target : target.substr(1, target.find('?') - 1);
  }
  std::string sentParam(const char* name) const { return queryParam(client.lastPathAndQuery(), name); }
  bool requestPending() const { return client.timeoutRunning(); }

  storetest::EduDb db;
  AnsweringTransport* transport = new AnsweringTransport;
  server::GetClient client{std::unique_ptr<platform::AsyncTransport>(transport)};
  // The class-start page's choice and the lesson, which the page starts from.
  LessonChoice choice;
  Lesson lesson;
  TForm_kjsc3 page{lesson, choice, &client, testsupport::sourcePath("assets")};
  std::vector<std::string> log, messages;
  int starts = 0;
};

TEST_F(CatalogPage, OpenPageFillsFromTheCacheAndAsksForTheStoredSubjectsCatalogs) {
  // A catalog chosen when the page was open before.
  choice.gradeID = "g1";
  choice.gradeName = gbk("一年级");
  choice.subjectID = "s1";
  page.OpenPage();
  page.FillCatalogs();
  choose(page.CB_catalog, 1);
  ASSERT_EQ(page.choice().catalogID, "c1");
  settle();
  log.clear();

  choice.subjectID = "s2";
  transport->answer = [](const std::string&) {
    return httpReply(R"({"status":"success","jsonData":[{"id":"c7","catalogName":"第七章"},)"
                     R"({"id":"c8","catalogName":"第八章"}]})");
  };

  page.OpenPage();

  EXPECT_EQ(items(page.CB_grade), (QStringList{"请选择年级", "一年级", "二年级"}));
  EXPECT_EQ(page.CB_grade->currentIndex(), 1);
  EXPECT_EQ(items(page.CB_Subject), (QStringList{"请选择学科", "语文", "数学"}));
  EXPECT_EQ(page.CB_Subject->currentIndex(), 0);
  EXPECT_EQ(items(page.CB_catalog), QStringList{"请选择章节"});
  EXPECT_TRUE(page.choice().catalogID.empty());
  // The subject of an earlier choice still governs the catalog request.
  ASSERT_EQ(lastOperation(), "clientInterface-getCatalog");
  EXPECT_EQ(sentParam("gradeID"), "g1");
  EXPECT_EQ(sentParam("subjectID"), "s2");

  settle();
  EXPECT_EQ(items(page.CB_catalog), (QStringList{"请选择章节", "第七章", "第八章"}));
  EXPECT_EQ(page.CB_catalog->currentIndex(), 0);
  EXPECT_EQ(db.rows("select catalog_id from t_catalog where subject_id='s2' and grade_id='g1'"),
            (storetest::Rows{{"c7"}, {"c8"}}));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("TForm_kjsc3.GetCatalog : HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(CatalogPage, GradeSelectionFollowsTheStoredChoice) {
  struct Case {
    const char *gradeID, *gradeName;
    int selected;
  };
  const Case cases[] = {{"", "", 0}, {"g2", "二年级", 2}, {"g5", "五年级", -1}, {"", "二年级", 0}};
  int lessonNumber = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gradeName);
    // Each a lesson of its own (another class), whose grade the page takes.
    choice.gradeID = c.gradeID;
    choice.gradeName = gbk(c.gradeName);
    choice.classID = "k" + std::to_string(++lessonNumber);
    page.OpenPage();
    EXPECT_EQ(page.CB_grade->currentIndex(), c.selected);
  }
}

TEST_F(CatalogPage, WithoutASchoolNothingIsAsked) {
  ClientState.schoolID.clear();
  page.OpenPage();
  EXPECT_FALSE(requestPending());
  EXPECT_TRUE(client.lastPathAndQuery().empty());
  EXPECT_EQ(items(page.CB_grade), QStringList{"请选择年级"});
  EXPECT_EQ(items(page.CB_catalog), QStringList{"请选择章节"});
}

// The page's grade and subject are its own: they start from the lesson's
// and a change clears the page's subject, while the lesson keeps its grade
// and subject (its pictures are sent with them).
TEST_F(CatalogPage, GradeChangeClearsTheSubjectKeepsTheCatalogAndRefreshesSubjects) {
  LessonChoice room;
  room.gradeID = "g1";
  room.gradeName = gbk("一年级");
  room.subjectID = "s1";
  room.subjectName = gbk("语文");
  lesson.start("", room, "2026-03-02 08:05:00");
  page.OpenPage();
  settle();
  EXPECT_EQ(page.choice().gradeID, "g1");
  EXPECT_EQ(page.choice().subjectID, "s1");
  page.FillCatalogs();
  choose(page.CB_catalog, 1);
  EXPECT_EQ(page.choice().catalogID, "c1");

  // The prompt and the grade already stored change nothing.
  choose(page.CB_grade, 0);
  choose(page.CB_grade, 1);
  EXPECT_FALSE(requestPending());
  EXPECT_EQ(page.choice().subjectID, "s1");

  transport->answer = [](const std::string&) {
    return httpReply(R"({"status":"success","jsonData":[{"subjectID":"s5","subjectName":"物理"}]})");
  };
  choose(page.CB_grade, 2);
  EXPECT_EQ(page.choice().gradeID, "g2");
  EXPECT_EQ(page.choice().gradeName, gbk("二年级"));
  EXPECT_TRUE(page.choice().subjectID.empty() && page.choice().subjectName.empty());
  EXPECT_EQ(page.choice().catalogID, "c1");
  // The lesson's own choice stands.
  EXPECT_EQ(lesson.room().gradeID, "g1");
  EXPECT_EQ(lesson.room().gradeName, gbk("一年级"));
  EXPECT_EQ(lesson.room().subjectID, "s1");
  EXPECT_EQ(lesson.room().subjectName, gbk("语文"));
  EXPECT_EQ(items(page.CB_Subject), (QStringList{"请选择学科", "英语"}));
  ASSERT_EQ(lastOperation(), "clientInterface-getSubject");
  EXPECT_EQ(sentParam("gradeID"), "g2");

  settle();
  EXPECT_EQ(items(page.CB_Subject), (QStringList{"请选择学科", "物理"}));
  EXPECT_EQ(page.CB_Subject->currentIndex(), 0);
  EXPECT_EQ(db.rows("select subject_id from t_subject where grade_id='g2'"), storetest::Rows{{"s5"}});

  // Opened again in the same lesson (its id given by the server meanwhile),
  // the page keeps its own choice; in another lesson it starts from that
  // lesson's.
  lesson.takeServerId("", "70005");
  page.OpenPage();
  EXPECT_EQ(page.choice().gradeID, "g2");
  EXPECT_EQ(page.CB_grade->currentIndex(), 2);
  settle();
  room.classID = "k2";
  lesson.start("70006", room, "2026-03-02 09:00:00");
  page.OpenPage();
  EXPECT_EQ(page.choice().gradeID, "g1");
  EXPECT_EQ(page.choice().subjectID, "s1");
  EXPECT_EQ(page.CB_grade->currentIndex(), 1);
  // The courseware goes with this lesson's id and class, and the page's
  // grade and subject.
  const courseware::UploadSession session = page.uploadSession();
  EXPECT_EQ(session.processID, "70006");
  EXPECT_EQ(session.classID, "k2");
  EXPECT_EQ(session.gradeID, "g1");
  EXPECT_EQ(session.subjectID, "s1");
  EXPECT_EQ(session.schoolID, "41");
  settle();
}

TEST_F(CatalogPage, SubjectAndCatalogChoicesAreThePagesOwn) {
  choice.gradeID = "g1";
  choice.gradeName = gbk("一年级");
  page.OpenPage();
  settle();

  choose(page.CB_Subject, 1);
  EXPECT_EQ(page.choice().subjectID, "s1");
  EXPECT_EQ(page.choice().subjectName, gbk("语文"));
  EXPECT_TRUE(choice.subjectID.empty());
  EXPECT_EQ(items(page.CB_catalog), (QStringList{"请选择章节", "第一章"}));
  ASSERT_EQ(lastOperation(), "clientInterface-getCatalog");
  EXPECT_EQ(sentParam("subjectID"), "s1");
  // No answer comes; the list stays as the cache filled it.
  settle();
  EXPECT_EQ(items(page.CB_catalog), (QStringList{"请选择章节", "第一章"}));

  choose(page.CB_Subject, 1);
  EXPECT_FALSE(requestPending());

  choose(page.CB_catalog, 1);
  EXPECT_EQ(page.choice().catalogID, "c1");
  EXPECT_EQ(page.uploadSession().catalogID, "c1");
  choose(page.CB_catalog, 0);
  EXPECT_EQ(page.choice().catalogID, "c1");
  EXPECT_FALSE(requestPending());
}

TEST_F(CatalogPage, AFailedReplyIsLoggedAndLeavesTheLists) {
  choice.gradeID = "g1";
  choice.gradeName = gbk("一年级");
  page.OpenPage();
  settle();
  log.clear();
  transport->answer = [](const std::string&) { return std::string("HTTP/1.1 500 Error\r\n\r\n<html>"); };

  choose(page.CB_grade, 2);
  settle();
  EXPECT_EQ(log, (std::vector<std::string>{"TForm_kjsc3.GetSubject : HTTP/1.1 500 Error\r\n\r\n<html>",
                                           gbk("TForm_kjsc3.GetSubject :   无法访问服务器！")}));
  EXPECT_EQ(items(page.CB_Subject), (QStringList{"请选择学科", "英语"}));
  EXPECT_EQ(db.rows("select subject_id from t_subject where grade_id='g2'"), storetest::Rows{{"s3"}});
}

TEST_F(CatalogPage, UploadButtonHidesThePageAndStartsTheQueueEitherWay) {
  page.show();
  page.findChild<QPushButton*>("suiImageButton6")->click();
  EXPECT_EQ(messages, std::vector<std::string>{gbk("您还没有选择对应的章节，无法上传课件。")});
  EXPECT_TRUE(page.isHidden());
  EXPECT_EQ(starts, 1);

  messages.clear();
  choice.gradeID = "g1";
  choice.subjectID = "s1";
  page.OpenPage();
  page.FillCatalogs();
  choose(page.CB_catalog, 1);
  page.show();
  page.findChild<QPushButton*>("suiImageButton6")->click();
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(page.isHidden());
  EXPECT_EQ(starts, 2);
}

}  // namespace
