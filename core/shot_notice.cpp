#include "core/shot_notice.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "core/screenshot_taker.h"
#include "sys/text_codec.h"

namespace {

const QColor kNavy(0, 0, 128);
const QColor kBackground(255, 255, 225);

QFont noticeFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
  font.setPointSize(8);
  return font;
}

QLabel* makeLabel(QWidget* parent, const char* objectName, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(objectName);
  label->setFont(noticeFont());
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, kNavy);
  label->setPalette(palette);
  // Presses reach the notice itself, which alone decides what closes it.
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

}  // namespace

ShotNotice::ShotNotice(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
  setObjectName("ShotNotice");
  // Frameless, so never shown; it names the window for the window system.
  setWindowTitle(QStringLiteral("记时提示"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  resize(kWidth, kHeight);

  title_ = makeLabel(this, "titleLabel", QStringLiteral("记时提示"));
  title_->setGeometry(10, 5, kCloseArea.left() - 10 - 4, 20);
  title_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message_ = makeLabel(this, "messageLabel", text(Message::NotSent));
  message_->setGeometry(10, 40, kWidth - 20, kHeight - 40 - 6);
  message_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  message_->setWordWrap(true);

  slide_.setEasingCurve(QEasingCurve::Linear);
  connect(&slide_, &QVariantAnimation::valueChanged, this,
          [this](const QVariant& value) { showHeight(value.toInt()); });
  connect(&slide_, &QVariantAnimation::finished, this, &ShotNotice::slideEnded);
  stay_.setSingleShot(true);
  stay_.setInterval(5000);
  connect(&stay_, &QTimer::timeout, this, [this] { slideTo(0); });
}

QRect ShotNotice::placeIn(const QRect& workArea) {
  return QRect(workArea.right() + 1 - kRightGap - kWidth, workArea.bottom() + 1 - kHeight, kWidth, kHeight);
}

void ShotNotice::setTimings(int slideMs, int stayMs) {
  slideMs_ = slideMs;
  stay_.setInterval(stayMs);
}

QString ShotNotice::text(Message message) {
  switch (message) {
    case Message::NotSaved:
      return QStringLiteral("截图无法保存（磁盘已满或文件夹不可写），请联系管理员。");
    case Message::NotCaptured:
      return QStringLiteral("无法截取屏幕画面，本次截图没有上传，请联系管理员。");
    case Message::NotSent:
      break;
  }
  return QStringLiteral("网络不畅，记时无法正常进行，请检查网络不否能正常上网。");
}

void ShotNotice::popUp(const QRect& workArea, Message message) {
  message_->setText(text(message));
  placed_ = placeIn(workArea);
  stay_.stop();
  if (!isVisible()) {
    showHeight(0);
    show();
  }
  slideTo(kHeight);
}

void ShotNotice::popUpOver(const QWidget* statusWindow, Message message) {
  QScreen* screen = statusWindow != nullptr ? statusWindow->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) popUp(screen->availableGeometry(), message);
}

void followScreenshots(ScreenshotTaker& taker, ShotNotice& notice, const QWidget* statusWindow,
                       std::function<void(const std::string& gbkLine)> log) {
  QObject::connect(&taker, &ScreenshotTaker::uploadFailed, &notice,
                   [&notice, statusWindow, log](const ScreenshotUpload& upload) {
                     if (log) log(text::utf8ToGbk("截图上传失败，图片留在本机：") + upload.localPath);
                     notice.popUpOver(statusWindow, ShotNotice::Message::NotSent);
                   });
  QObject::connect(&taker, &ScreenshotTaker::uploadFinished, &notice, [&taker, log](bool answered) {
    if (answered && log) log(text::utf8ToGbk("截图已上传：") + taker.lastScreenshotPath());
  });
  QObject::connect(&taker, &ScreenshotTaker::pictureNotSaved, &notice,
                   [&notice, statusWindow, log](const std::string& line, bool firstInLesson) {
                     if (log) log(line);
                     if (firstInLesson) notice.popUpOver(statusWindow, ShotNotice::Message::NotSaved);
                   });
  QObject::connect(&taker, &ScreenshotTaker::pictureNotCaptured, &notice,
                   [&notice, statusWindow, log](const std::string& line, bool firstInLesson) {
                     if (log) log(line);
                     if (firstInLesson) notice.popUpOver(statusWindow, ShotNotice::Message::NotCaptured);
                   });
}

// The window grows upward from the work area's bottom edge (and shrinks back
// down) with its content fixed to its top edge, so the content slides.
void ShotNotice::slideTo(int height) {
  const int from = isVisible() ? this->height() : 0;
  slide_.stop();
  slide_.setStartValue(from);
  slide_.setEndValue(height);
  slide_.setDuration(std::max(1, slideMs_ * std::abs(height - from) / kHeight));
  slide_.start();
}

void ShotNotice::showHeight(int height) {
  // A window cannot be 0 pixels high; one line of it hides behind the edge.
  const int shown = std::clamp(height, 1, kHeight);
  setGeometry(placed_.left(), placed_.bottom() + 1 - shown, kWidth, shown);
}

void ShotNotice::slideEnded() {
  if (slide_.endValue().toInt() >= kHeight) {
    stay_.start();
  } else {
    hide();
  }
}

void ShotNotice::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && kCloseArea.contains(event->position().toPoint())) {
    slide_.stop();
    stay_.stop();
    hide();
  }
}

void ShotNotice::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect full(0, 0, kWidth, kHeight);
  painter.fillRect(full, kBackground);
  painter.setPen(kNavy);
  painter.drawRect(full.adjusted(0, 0, -1, -1));
  painter.drawLine(6, 30, kWidth - 7, 30);
  // The close box's cross, inside the area that reacts to it.
  const QRect box = kCloseArea.adjusted(3, 3, -4, -4);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(kNavy, 1.5));
  painter.drawLine(box.topLeft(), box.bottomRight());
  painter.drawLine(box.topRight(), box.bottomLeft());
}
