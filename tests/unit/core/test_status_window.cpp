// The status window driven offscreen by its controls' names: its looks at
// start-up, the login message, the two buttons, the server address and
// dragging.
#include <QBitmap>
#include <QScreen>
#include <QTest>

#include "core/login_message.h"
#include "tests/unit/core/status_window_fixture.h"

namespace {

using Calls = std::vector<std::string>;

TEST_F(StatusWindowTest, StartsSignedOutInTheTopRightCorner) {
  EXPECT_EQ(form->windowTitle().toStdString(), "edu_main");
  EXPECT_TRUE(form->windowFlags() & Qt::Tool);
  EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(form->size(), QSize(230, 144));
  EXPECT_EQ(form->pos(), QPoint(form->screen()->geometry().width() - 250, 50));
  EXPECT_EQ(label("Label1"), "未登录");
  EXPECT_EQ(label("Label3"), " V5.0.33");
  EXPECT_EQ(label("Label2"), "00：00");
  EXPECT_EQ(child<TShape>("Shape1")->brushColor(), QColor(0, 255, 0));
  EXPECT_FALSE(child<QPlainTextEdit>("Memo1")->isVisibleTo(form.get()));
  EXPECT_EQ(child<QWidget>("suiImageButton1")->geometry(), QRect(4, 96, 118, 41));
  EXPECT_EQ(child<QWidget>("suiImageButton2")->geometry(), QRect(128, 96, 95, 40));
  // The key-coloured corners are cut away, the panel stays.
  const QRegion shape = form->mask();
  EXPECT_FALSE(shape.contains(QPoint(0, 0)));
  EXPECT_FALSE(shape.contains(QPoint(229, 143)));
  EXPECT_TRUE(shape.contains(QPoint(115, 72)));
  EXPECT_TRUE(shape.contains(QPoint(0, 72)));
  for (const char* name : {"Timer1", "Timer3", "Timer4"}) EXPECT_FALSE(timer(name)->isActive()) << name;
  EXPECT_EQ(timer("Timer3")->interval(), 300000);
}

TEST_F(StatusWindowTest, LoginRunsItsStepsInOrder) {
  ClientState.serverHost = "127.0.0.1";
  ClientState.serverPort = testsupport::freePort();  // nothing answers; the request only has to start
  ClientState.serverPath = "/edu/";
  ClientState.diskID = "DISK42";
  form->setUploadQueueClient(&queueClient);
  startLesson("P1");
  std::string requestAtClose;
  AppHooks.hideMainPanel = [&] {
    calls.push_back("hideMainPanel");
    requestAtClose = queueClient.lastPathAndQuery();
  };

  form->loginMessage(login() + std::string("\0ignored", 8));

  EXPECT_EQ(calls, (Calls{"lessonStopped", "resetQueue", "switchPage suiImageButton2", "installKeyHook",
                          "signedIn", "upgrade 5.0.34.7 http://up/info.xml", "hideMainPanel"}));
  EXPECT_NE(requestAtClose.find("/edu/clientInterface-getCouterTime?"), std::string::npos) << requestAtClose;
  EXPECT_NE(requestAtClose.find("hardDiskID=DISK42"), std::string::npos) << requestAtClose;
  EXPECT_FALSE(form->isLessonRunning());
  // The lesson is forgotten: no id, and the next picture is the first.
  EXPECT_EQ(lesson->processID(), "");
  EXPECT_EQ(lesson->screenshotCounter(), 1);
  EXPECT_FALSE(timer("Timer3")->isActive());
  EXPECT_EQ(timer("Timer3")->interval(), 90000);
  EXPECT_EQ(label("Label1"), "张明 老师");
  EXPECT_EQ(ClientState.teacherID, "T1001");
  // The log holds the login without the FTP password.
  EXPECT_EQ(logLines().first(), text::toQString(loginTextForLog(login())));
  EXPECT_TRUE(logLines().first().endsWith("|***"));
}

TEST_F(StatusWindowTest, AMessageThatCannotBeAppliedInFullChangesNothing) {
  form->loginMessage(login());
  startLesson("P1");
  calls.clear();
  const std::string shortLogin = login().substr(0, login().rfind('|'));

  for (const std::string& refused : {shortLogin, login("1", "ninety"), std::string()}) {
    form->loginMessage(refused);
    EXPECT_TRUE(calls.empty()) << refused;
    EXPECT_TRUE(form->isLessonRunning()) << refused;
    EXPECT_EQ(label("Label1"), "张明 老师");
    EXPECT_EQ(lesson->processID(), "P1");
    // The text (without a password) and the reason both reach the log.
    const QStringList lines = logLines();
    EXPECT_EQ(lines[lines.size() - 2], text::toQString(loginTextForLog(refused)));
    EXPECT_FALSE(lines.last().isEmpty());
  }
}

TEST_F(StatusWindowTest, SignedOutTheLessonButtonRefusesSignedInItOpensThePanelToTheLeft) {
  auto click = [&] {
    return answerMessageBox([&] { QTest::mouseClick(child<QWidget>("suiImageButton1"), Qt::LeftButton); });
  };
  EXPECT_EQ(click(), "用户未登录成功，无法上课记时，请重新登录。");
  EXPECT_TRUE(calls.empty());

  form->loginMessage(login());
  form->move(1670, 50);
  calls.clear();
  EXPECT_EQ(click(), "");
  EXPECT_EQ(calls, (Calls{"moveMainPanel 1310,50", "showMainPanel"}));

  // A logout keeps the teacher's values but the panel stays shut.
  form->loginMessage("offline");
  EXPECT_EQ(label("Label1"), "未登录");
  EXPECT_FALSE(ClientState.loginState);
  EXPECT_EQ(ClientState.teacherID, "T1001");
  EXPECT_EQ(ClientState.teacherName, text::utf8ToGbk("张明"));
  calls.clear();
  EXPECT_EQ(click(), "用户未登录成功，无法上课记时，请重新登录。");
  EXPECT_TRUE(calls.empty());
}

TEST_F(StatusWindowTest, F4IsGrabbedAtEveryLoginWithFlagOneAndEachChangeOfOutcomeIsLoggedOnce) {
  auto installs = [&] { return std::count(calls.begin(), calls.end(), "installKeyHook"); };
  form->loginMessage(login("1"));
  form->loginMessage(login("0"));
  form->loginMessage("offline");
  EXPECT_EQ(installs(), 1);
  form->loginMessage(login("1"));
  EXPECT_EQ(installs(), 2);
  EXPECT_EQ(logLines().filter("F4 key hook: held").size(), 1);

  keyHookResult = platform::F4Swallow::Result::NoDisplay;
  form->loginMessage(login("1"));
  form->loginMessage(login("1"));
  EXPECT_EQ(installs(), 4);
  EXPECT_EQ(logLines().filter("F4").size(), 2);
  EXPECT_EQ(logLines().filter("no X display").size(), 1);
}

TEST_F(StatusWindowTest, ChangeTeacherStopsTheLessonAndRestartsTheLockScreen) {
  form->loginMessage(login());
  resumeLesson(300);
  form->Timer1Timer();
  calls.clear();

  QTest::mouseClick(child<QWidget>("suiImageButton2"), Qt::LeftButton);

  EXPECT_EQ(calls, (Calls{"lessonStopped", "kill LockScreen.exe", "delay 500", "start LockScreen.exe"}));
  EXPECT_FALSE(form->isLessonRunning());
  EXPECT_FALSE(timer("Timer3")->isActive());
  EXPECT_EQ(label("Label2"), "00：00");
  EXPECT_EQ(lesson->elapsedSeconds(), 0);
}

TEST_F(StatusWindowTest, ServerAddressIsReadOrAskedOnActivationUntilOneIsKnown) {
  auto activate = [&] {
    QEvent event(QEvent::WindowActivate);
    QApplication::sendEvent(form.get(), &event);
  };
  auto leave = [&] {
    QEvent event(QEvent::WindowDeactivate);
    QApplication::sendEvent(form.get(), &event);
  };

  // No edu.db: never asked.
  activate();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(ClientState.serverHost, "");

  // No stored address: asked; cancelled, asked again only after leaving and coming back.
  storedUrl = "";
  activate();
  activate();
  EXPECT_EQ(calls, (Calls{"ask"}));
  leave();
  typedUrl = "http://10.1.2.3:8081/edu";
  activate();
  EXPECT_EQ(calls, (Calls{"ask", "ask"}));
  EXPECT_EQ(ClientState.serverHost, "10.1.2.3");
  EXPECT_EQ(ClientState.serverPort, 8081);
  EXPECT_EQ(ClientState.serverPath, "/edu/");

  // Known once, kept for the run.
  leave();
  typedUrl = "10.9.9.9";
  activate();
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(ClientState.serverHost, "10.1.2.3");
}

TEST_F(StatusWindowTest, StoredAddressIsUsedWithoutAsking) {
  storedUrl = "192.168.1.10:8080/edu";
  form->FormActivate();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(ClientState.serverHost, "192.168.1.10");
  EXPECT_EQ(ClientState.serverPort, 8080);
  EXPECT_EQ(ClientState.serverPath, "/edu/");

  // The GET clients now go there: an empty host would have failed at once.
  std::string reply;
  form->getClient().setReplyHandler([&](const std::string& text) { reply = text; });
  form->getClient().startRequest("/edu/x");
  EXPECT_EQ(reply, "");
  form->getClient().finishRequest("error:");
}

TEST_F(StatusWindowTest, AnAddressNoRequestCouldUseIsNotTakenAndTheUserIsAsked) {
  auto activateAfterLeaving = [&] {
    QEvent leave(QEvent::WindowDeactivate);
    QApplication::sendEvent(form.get(), &leave);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(form.get(), &activate);
  };
  storedUrl = "192.168.1.10:8O80/edu";  // a letter O in the port
  typedUrl = "edu server";
  activateAfterLeaving();
  EXPECT_EQ(calls, (Calls{"ask"}));
  EXPECT_EQ(ClientState.serverHost, "");
  EXPECT_EQ(logLines().filter("not usable").size(), 2) << logLines().join('\n').toStdString();

  typedUrl = "192.168.1.10:8080/edu";
  activateAfterLeaving();
  EXPECT_EQ(ClientState.serverHost, "192.168.1.10");
  EXPECT_EQ(ClientState.serverPort, 8080);
  EXPECT_TRUE(logLines().last().startsWith("server address in use: 192.168.1.10:8080/edu/ (typed in)"))
      << logLines().last().toStdString();
}

TEST_F(StatusWindowTest, DraggingFromTheSurfaceMovesTheWindow) {
  form->move(1000, 50);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QWidget* lamp = child<QWidget>("Shape1");
  const QPoint start = lamp->mapTo(form.get(), QPoint(10, 10));
  QTest::mousePress(form.get(), Qt::LeftButton, {}, start);
  QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(-30, 40)),
                   QPointF(form->mapToGlobal(start + QPoint(-30, 40))), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(form.get(), &move);
  QTest::mouseRelease(form.get(), Qt::LeftButton, {}, start + QPoint(-30, 40));
  EXPECT_EQ(form->pos(), QPoint(970, 90));
}

}  // namespace
