#include "sys/pumping_delay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

void pumpingDelay(int ms) {
  if (!QCoreApplication::instance()) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  if (ms <= 0) {
    QCoreApplication::processEvents();
    return;
  }
  QElapsedTimer clock;
  clock.start();
  // A nested loop sleeps in the event dispatcher until something arrives,
  // so the CPU stays idle; a precise timer never ends the wait early.
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  for (qint64 left = ms; left > 0; left = ms - clock.elapsed()) {
    timer.start(static_cast<int>(left));
    loop.exec();
    // The loop also ends when the application is quitting; do not wait on.
    if (QCoreApplication::closingDown() || timer.isActive()) break;
  }
}
