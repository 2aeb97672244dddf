// What the class-start and repair pages have in common: their white
// surface, their choice lists filled from a row set, and the way their reply
// handlers begin.
#pragma once

#include <QRect>
#include <QStringList>
#include <string>

#include "store/row_set.h"

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace server {
class GetClient;
}

namespace panels {

class TSkinButton;

// The skinned image panel at 0,0 that carries a page's controls, and the
// page's white background.
QWidget* pageSurface(QWidget* page, const QSize& windowSize, const QSize& surfaceSize);
// A drop-down list in the pages' 14 px grey, showing only its placeholder.
// Its items are set with showChoices or fillChoiceList, never added one by
// one (the list holds them in a ChoiceListModel).
QComboBox* choiceList(QWidget* parent, const char* name, const QRect& geometry, const QString& placeholder);
// Replaces a choice list's items with these texts.
void showChoices(QComboBox* list, const QStringList& items);
QLabel* pageLabel(QWidget* parent, const char* name, const QPoint& at, int pixelSize,
                  const std::string& text);
// The hidden history link, a flat teal text button.
QPushButton* historyLink(QWidget* parent, const QRect& geometry, const std::string& text);
// The wide button a page ends with: the panel's button pictures, 16 px white.
TSkinButton* pageButton(QWidget* parent, const char* name, const QRect& geometry,
                        const std::string& assetsDir, const std::string& text);

// Fills a choice list: placeholder as item 0, then the `nameColumn` of every
// row in order. Returns the item of the first row whose name equals
// `selectName`, or -1; the list's selection is left to the caller.
int fillChoiceList(QComboBox* list, DB_Func::RowSet& rows, const char* nameColumn,
                   const std::string& placeholder, const std::string& selectName);
// The id and name behind item `index` (row index - 1); false for item 0 and
// for an item without a row.
bool choiceOf(DB_Func::RowSet& rows, int index, const char* idColumn, const char* nameColumn, std::string& id,
              std::string& name);

// How every reply handler of the pages begins: its prefix and the raw reply
// go to the diagnostic log, and the JSON part goes to the client's
// completion step. Without a JSON part the prefix and "  无法访问服务器！"
// are logged too. Returns the JSON part, empty when the request failed.
std::string takeReply(server::GetClient& client, const std::string& prefix, const std::string& replyText);

// The request key read back from the request the client sent last.
std::string sentParam(const server::GetClient& client, const char* name);

}  // namespace panels
