// One main for every test program: an application object (offscreen unless
// a display is asked for) so that timers, sockets and widgets all have their
// event loop, then GoogleTest. The tests of the base libraries, which hold
// no widgets, are built with EDU_TEST_CORE_ONLY and get a QCoreApplication,
// so that they link no GUI.
#ifdef EDU_TEST_CORE_ONLY
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TestApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
