#include "courseware/queue_hooks.h"

#include "courseware/copy_and_add.h"
#include "courseware/kjsc2.h"
#include "state/app_hooks.h"

namespace courseware {

void installQueueHooks(TForm_kjsc2& queue) {
  AppHooks.resetQueue = [&queue] { queue.ResetQueue(); };
  AppHooks.queuedCount = [&queue] { return queue.QueuedCount(); };
  AppHooks.uploading = [&queue] { return queue.Uploading(); };
  AppHooks.copyAndAdd = [&queue](const std::string& path) { copyAndAdd(path, queue); };
}

}  // namespace courseware
