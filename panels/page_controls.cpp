#include "panels/page_controls.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "panels/panel_widgets.h"
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

QComboBox* choiceList(QWidget* parent, const char* name, const QRect& geometry) {
  auto* list = new QComboBox(parent);
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

int fillChoiceList(QComboBox* list, DB_Func::RowSet& rows, const char* nameColumn,
                   const std::string& placeholder, const std::string& selectName) {
  list->clear();
  list->addItem(text::toQString(placeholder));
  int selected = -1;
  for (rows.moveTo(0); !rows.end(); rows.next()) {
    const std::string& name = rows.text(nameColumn);
    if (selected < 0 && name == selectName) selected = list->count();
    list->addItem(text::toQString(name));
  }
  return selected;
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
