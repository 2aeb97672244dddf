#include "core/edu_application.h"

#include <QMessageBox>

#include "store/db_error.h"

EduApplication::EduApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool EduApplication::notify(QObject* receiver, QEvent* event) {
  return dispatchShowingDbErrors([&] { return QApplication::notify(receiver, event); });
}

bool dispatchShowingDbErrors(const std::function<bool()>& dispatch) {
  try {
    return dispatch();
  } catch (const DB_Func::DbError& error) {
    // SQLite's message is UTF-8 already.
    QMessageBox box(
        QMessageBox::Critical, "edu_main",
        QString("数据库错误 %1：%2").arg(error.code()).arg(QString::fromStdString(error.message())),
        QMessageBox::Ok);
    box.exec();
    return false;
  }
}
