#include "core/edu_application.h"

#include <QMessageBox>
#include <chrono>

#include "store/db_error.h"
#include "store/db_func.h"

namespace {

DatabaseGuard& guard() {
  static DatabaseGuard installed;
  return installed;
}

void log(const std::string& line) {
  if (guard().log) guard().log(line);
}

// A damaged edu.db is replaced at once; a sound one that merely failed is
// not looked at again for a while, so a failing timer does not make every
// tick read the whole file.
bool replacedDamagedDatabase(const DB_Func::DbError& error) {
  static std::chrono::steady_clock::time_point lastLook{};
  const auto now = std::chrono::steady_clock::now();
  if (!guard().checkDatabase || !DB_Func::IsDamage(error)) return false;
  if (lastLook != std::chrono::steady_clock::time_point{} && now - lastLook < std::chrono::seconds(30))
    return false;
  lastLook = now;
  const DB_Func::DatabaseCheck check = guard().checkDatabase();
  log(check.damaged ? check.note : "edu.db: " + std::string(error.what()) + "; the file itself checks sound");
  if (check.replaced) lastLook = {};
  return check.replaced;
}

void showDiskFull(const DB_Func::DbError& error) {
  const std::string space = guard().freeSpace ? guard().freeSpace() : std::string();
  log("edu.db: " + std::string(error.what()) + " writing " + DB_Func::DatabasePath() +
      (space.empty() ? "" : "; " + space));
  QMessageBox box(QMessageBox::Warning, "提示", kDiskFullMessage, QMessageBox::Ok);
  box.exec();
}

}  // namespace

EduApplication::EduApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool EduApplication::notify(QObject* receiver, QEvent* event) {
  return dispatchShowingDbErrors([&] { return QApplication::notify(receiver, event); });
}

void setDatabaseGuard(DatabaseGuard installed) { guard() = std::move(installed); }

bool dispatchShowingDbErrors(const std::function<bool()>& dispatch) {
  try {
    return dispatch();
  } catch (const DB_Func::DbError& error) {
    if (replacedDamagedDatabase(error)) return false;
    if (DB_Func::IsDiskFull(error)) {
      showDiskFull(error);
      return false;
    }
    // SQLite's message is UTF-8 already.
    QMessageBox box(
        QMessageBox::Critical, "edu_main",
        QString("数据库错误 %1：%2").arg(error.code()).arg(QString::fromStdString(error.message())),
        QMessageBox::Ok);
    box.exec();
    return false;
  }
}
