// The pages' messages to the teacher: a modal box with one OK
// button. Tests (and anything else that must not block) take the messages
// through a sink instead.
#pragma once

#include <functional>
#include <string>

class QMessageBox;
class QWidget;

namespace ui {

// Shows `text` (GBK) and returns when the teacher has closed the box; with a
// sink installed, hands the text to the sink and returns at once.
void showMessage(const std::string& text, QWidget* parent = nullptr);

// The same box without waiting for the teacher: it stays until closed by
// the teacher or by the caller (it deletes itself when closed). With a sink
// installed, hands the text to the sink and gives no box.
QMessageBox* showNotice(const std::string& text, QWidget* parent = nullptr);

// Replaces the boxes by `sink` until it is reset with an empty function.
void setMessageSink(std::function<void(const std::string& text)> sink);

}  // namespace ui
