#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "sys/pumping_delay.h"

namespace {

TEST(PumpingDelay, KeepsDispatchingForAtLeastTheTime) {
  bool timerFired = false;
  bool queuedCallRan = false;
  QTimer::singleShot(50, [&] { timerFired = true; });
  QMetaObject::invokeMethod(
      qApp, [&] { queuedCallRan = true; }, Qt::QueuedConnection);

  QElapsedTimer clock;
  clock.start();
  pumpingDelay(500);
  EXPECT_GE(clock.elapsed(), 500);
  EXPECT_TRUE(timerFired);
  EXPECT_TRUE(queuedCallRan);
}

TEST(PumpingDelay, ZeroHandlesWhatIsPending) {
  bool queuedCallRan = false;
  QMetaObject::invokeMethod(
      qApp, [&] { queuedCallRan = true; }, Qt::QueuedConnection);
  pumpingDelay(0);
  EXPECT_TRUE(queuedCallRan);
}

}  // namespace
