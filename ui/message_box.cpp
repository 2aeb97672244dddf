#include "ui/message_box.h"

#include <QMessageBox>

#include "sys/qt_text.h"

namespace ui {
namespace {

std::function<void(const std::string&)>& messageSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}

void prepare(QMessageBox& box) {
  // The main panel stays on top of everything; the box must not open behind it.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
}

}  // namespace

void showMessage(const std::string& text, QWidget* parent) {
  if (messageSink()) {
    messageSink()(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"), text::toQString(text), QMessageBox::Ok,
                  parent);
  prepare(box);
  box.exec();
}

QMessageBox* showNotice(const std::string& text, QWidget* parent) {
  if (messageSink()) {
    messageSink()(text);
    return nullptr;
  }
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("提示"), text::toQString(text),
                              QMessageBox::Ok, parent);
  prepare(*box);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return box;
}

void setMessageSink(std::function<void(const std::string&)> sink) { messageSink() = std::move(sink); }

}  // namespace ui
