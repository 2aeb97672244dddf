// The pages' messages to the teacher: a modal box with one OK button. Tests
// (and anything else that must not block) can take the messages instead.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace panels {

// Shows `text` (GBK) in a modal box with one OK button and returns when the
// teacher has closed it; with a sink installed, hands the text to the sink
// instead and returns at once.
void showMessage(const std::string& text, QWidget* parent = nullptr);

// Replaces the boxes by `sink` until it is reset with an empty function.
void setMessageSink(std::function<void(const std::string& text)> sink);

}  // namespace panels
