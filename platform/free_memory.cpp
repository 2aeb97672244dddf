#include "platform/free_memory.h"

#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void releaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

void releaseFreeMemorySoon() {
  static QTimer* const quiet = [] {
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setInterval(500);
    QObject::connect(timer, &QTimer::timeout, [] { releaseFreeMemory(); });
    return timer;
  }();
  quiet->start();
}

}  // namespace platform
