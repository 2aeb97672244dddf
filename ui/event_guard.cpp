#include "ui/event_guard.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <chrono>

#include "store/db_func.h"
#include "sys/text_codec.h"
#include "ui/message_box.h"

namespace ui {
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

// One box at a time: a second failure while the teacher has not closed the
// first goes to the log only.
void showOnce(const char* utf8Message, const QObject* owner) {
  static QPointer<QMessageBox> open;
  if (open) return;
  const auto* widget = qobject_cast<const QWidget*>(owner);
  open = showNotice(text::utf8ToGbk(utf8Message), widget ? widget->window() : nullptr);
  if (open) open->setObjectName("database_notice");
}

// Which window's event it was, for the log.
std::string during(const QObject* owner) {
  if (owner == nullptr || owner->objectName().isEmpty()) return "";
  return " (in " + owner->objectName().toStdString() + ")";
}

}  // namespace

void setDatabaseGuard(DatabaseGuard installed) { guard() = std::move(installed); }

void handleDatabaseError(const QObject* owner, const DB_Func::DbError& error) {
  if (replacedDamagedDatabase(error)) return;
  if (DB_Func::IsDiskFull(error)) {
    const std::string space = guard().freeSpace ? guard().freeSpace() : std::string();
    log("edu.db: " + std::string(error.what()) + " writing " + DB_Func::DatabasePath() +
        (space.empty() ? "" : "; " + space) + during(owner));
    showOnce(kDiskFullMessage, owner);
    return;
  }
  // SQLite's text is for the admin; the teacher gets the plain sentence.
  log("edu.db: " + std::string(error.what()) + " (SQLite code " + std::to_string(error.code()) + ")" +
      during(owner));
  showOnce(kDatabaseErrorMessage, owner);
}

}  // namespace ui
