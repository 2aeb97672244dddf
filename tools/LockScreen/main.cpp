// LockScreen: the lock-screen companion. The client ends and starts it by
// name when the teacher changes and after a lesson has run out; it covers the
// screen until a teacher of the school picks their name, hands that login to
// the running client and ends.
#include <QApplication>

#include "core/qt_chinese.h"
#include "platform/data_dir.h"
#include "platform/login_channel.h"
#include "platform/program_dir.h"
#include "tools/LockScreen/lock_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  installQtChineseTexts(app, platform::programDir());
  // The client's edu.db is wherever the client keeps it.
  LockWindow window({platform::programDir(), platform::dataDir(), platform::loginChannelPath()});
  QObject::connect(&window, &LockWindow::signedIn, &app, [] { QApplication::exit(0); });
  window.showFullScreen();
  window.raise();
  window.activateWindow();
  return app.exec();
}
