// Handing memory the program no longer uses back to the system. The C
// library keeps freed blocks for later allocations; after a burst of work
// (the windows' creation, a screenshot, a reply of megabytes) most of them
// would stay unused.
#pragma once

namespace platform {

// Now.
void releaseFreeMemory();
// Once the program has been quiet for half a second, so that what the
// burst still causes (painting a long list, a log line) is done first and
// the pages it frees go back too. Calls within that moment make one release.
// Called on the GUI thread.
void releaseFreeMemorySoon();

}  // namespace platform
