// The small notice that a screenshot could not be sent ("记时提示" and a
// line asking the teacher to check the network) or could not be kept on
// this computer. It slides up at the bottom-right corner of the work area,
// stays a few seconds and slides down again; it never takes the focus, and
// only its close box hides it early.
#pragma once

#include <QRect>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class ScreenshotTaker;

class ShotNotice : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 181;
  static constexpr int kHeight = 116;
  static constexpr int kRightGap = 18;  // between its right edge and the work area's
  // The close box: 162,6 up to, not including, 176,20.
  static constexpr QRect kCloseArea{162, 6, 14, 14};

  // What the notice tells: the upload got no answer, the picture could not
  // be written to the disk, or the screen could not be read (a failed or
  // blank capture).
  enum class Message { NotSent, NotSaved, NotCaptured };

  explicit ShotNotice(QWidget* parent = nullptr);

  // Shows the notice in `workArea` (screen coordinates). While it is already
  // up, it comes back fully and stays its full time again.
  void popUp(const QRect& workArea, Message message = Message::NotSent);
  // The same, in the work area of the screen that shows `statusWindow`.
  void popUpOver(const QWidget* statusWindow, Message message = Message::NotSent);

  static QString text(Message message);

  // Where the notice stands once it is fully up.
  static QRect placeIn(const QRect& workArea);

  // Slide and stay times; 400 ms and 5,000 ms unless a test shortens them.
  void setTimings(int slideMs, int stayMs);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void slideTo(int height);
  void showHeight(int height);
  void slideEnded();

  QLabel* title_;
  QLabel* message_;
  QVariantAnimation slide_;
  QTimer stay_;
  QRect placed_;
  int slideMs_ = 400;
};

// The teacher and the diagnostic log hear of the taker's troubles: a failed
// upload brings the notice and a log line each time; a picture that cannot
// be written, and a capture that failed or came back blank, are logged at
// every tick and shown once per lesson.
void followScreenshots(ScreenshotTaker& taker, ShotNotice& notice, const QWidget* statusWindow,
                       std::function<void(const std::string& gbkLine)> log);
