// The yardstick of bench/idle_memory.sh: the least a Qt Widgets program
// needs to show Chinese text, one label in one window, in the typeface the
// client asks for. It links Qt Widgets alone, shows the label and waits to
// be ended.
#include <QApplication>
#include <QFont>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(QStringLiteral("空闲的窗口"));
  QFont font;
  font.setFamilies({"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
  font.setPixelSize(16);
  label.setFont(font);
  label.move(200, 200);
  label.show();
  return app.exec();
}
