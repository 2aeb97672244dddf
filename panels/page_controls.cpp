#include "panels/page_controls.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "panels/choice_list_model.h"
#include "panels/panel_widgets.h"
#include "platform/free_memory.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "state/app_hooks.h"
#include "sys/qt_text.h"

namespace panels {

QWidget* pageSurface(QWidget* page, const QSize& windowSize, const QSize& surfaceSize) {
  page->resize(windowSize);
  page->setAutoFillBackground(true);
  QPalette palette = page->palette();
  palette.setColor(QPalette::Window, Qt::white);
  page->setPalette(palette);
  auto* surface = new QWidget(page);
  surface->setObjectName("suiImagePanel1");
  surface->setGeometry(QRect(QPoint(0, 0), surfaceSize));
  return surface;
}

QComboBox* choiceList(QWidget* parent, const char* name, const QRect& geometry, const QString& placeholder) {
  auto* list = new QComboBox(parent);
  list->setModel(new ChoiceListModel(list));
  showChoices(list, {placeholder});
  list->setObjectName(name);
  list->setGeometry(geometry);
  list->setFont(pixelFont(14));
  list->setStyleSheet("QComboBox { color: rgb(128,128,128); }");
  return list;
}

QLabel* pageLabel(QWidget* parent, const char* name, const QPoint& at, int pixelSize,
                  const std::string& text) {
  auto* label = new QLabel(text::toQString(text), parent);
  label->setObjectName(name);
  label->setFont(pixelFont(pixelSize));
  label->move(at);
  label->adjustSize();
  return label;
}

QPushButton* historyLink(QWidget* parent, const QRect& geometry, const std::string& text) {
  auto* link = new QPushButton(text::toQString(text), parent);
  link->setObjectName("FlatSpeedButton1");
  link->setGeometry(geometry);
  link->setFont(pixelFont(14));
  link->setFlat(true);
  link->setCursor(Qt::PointingHandCursor);
  link->setStyleSheet("QPushButton { border: none; background: transparent; color: rgb(0,128,128); }");
  link->hide();
  return link;
}

TSkinButton* pageButton(QWidget* parent, const char* name, const QRect& geometry,
                        const std::string& assetsDir, const std::string& text) {
  auto* button = new TSkinButton(parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  button->setFont(pixelFont(16));
  button->setText(text::toQString(text));
  button->setStretchedPictures(keyedPicture(assetsDir, "panel_button_normal.png"),
                               keyedPicture(assetsDir, "panel_button_hover.png"),
                               keyedPicture(assetsDir, "panel_button_pressed.png"));
  return button;
}

namespace {

constexpr size_t kLongList = 10000;

ChoiceListModel* choicesOf(QComboBox* list) {
  if (auto* model = qobject_cast<ChoiceListModel*>(list->model())) return model;
  auto* model = new ChoiceListModel(list);
  list->setModel(model);
  return model;
}

}  // namespace

void showChoices(QComboBox* list, const QStringList& items) { choicesOf(list)->show(items); }

int fillChoiceList(QComboBox* list, DB_Func::RowSet& rows, const char* nameColumn,
                   const std::string& placeholder, const std::string& selectName) {
  if (rows.rowCount() == 0) {
    showChoices(list, {text::toQString(placeholder)});
    return -1;
  }
  const size_t column = rows.requireColumn(nameColumn);
  choicesOf(list)->show({text::toQString(placeholder)}, &rows, column);
  // Tens of thousands of names leave as many freed conversions behind, and
  // their first painting more.
  if (rows.rowCount() >= kLongList) platform::releaseFreeMemorySoon();
  for (size_t row = 0; row < rows.rowCount(); ++row) {
    if (rows.at(row, column) == selectName) return static_cast<int>(row) + 1;
  }
  return -1;
}

bool choiceOf(DB_Func::RowSet& rows, int index, const char* idColumn, const char* nameColumn, std::string& id,
              std::string& name) {
  if (index < 1 || !rows.moveTo(static_cast<size_t>(index - 1))) return false;
  id = rows.text(idColumn);
  name = rows.text(nameColumn);
  return true;
}

std::string takeReply(server::GetClient& client, const std::string& prefix, const std::string& replyText) {
  callHook(AppHooks.appendLog, prefix + replyText);
  std::string jsonPart = Json_Func::ExtractJsonPart(replyText);
  client.finishRequest(jsonPart);
  if (jsonPart.empty()) callHook(AppHooks.appendLog, prefix + text::utf8ToGbk("  无法访问服务器！"));
  return jsonPart;
}

std::string sentParam(const server::GetClient& client, const char* name) {
  return queryParam(client.lastPathAndQuery(), name);
}

}  // namespace panels
