#include "core/qt_chinese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QString>
#include <QTranslator>

bool installQtChineseTexts(QCoreApplication& app, const std::string& programDir) {
  auto* translator = new QTranslator(&app);
  const QString name = "qtbase_zh_CN";
  const bool loaded = translator->load(name, QString::fromStdString(programDir) + "/translations") ||
                      translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (!loaded) {
    delete translator;
    return false;
  }
  return app.installTranslator(translator);
}
