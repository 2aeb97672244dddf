// Qt's own texts in Simplified Chinese: the buttons of message boxes
// ("确定", "取消"), the file dialog's labels and the context menus of edit
// fields would otherwise read in English. Qt's translation is taken from the
// program folder's "translations" folder (the build puts a copy there, so a
// copied program folder keeps it) or else from where Qt keeps its own.
#pragma once

#include <string>

class QCoreApplication;

// Installs the translation into `app`; false when none was found (Qt's
// English texts stay).
bool installQtChineseTexts(QCoreApplication& app, const std::string& programDir);
