// Handing memory the program no longer uses back to the system. The C
// library keeps freed blocks for later allocations; after a burst of work
// (the windows' creation, a screenshot) most of them would stay unused.
#pragma once

namespace platform {

void releaseFreeMemory();

}  // namespace platform
