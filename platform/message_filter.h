// Windows filters the messages a lower-rights process may send to a
// higher-rights one; the client opens that filter for dropped files and the
// login message. This system has no such filter.
#pragma once

namespace platform {

// Nothing to open here; a Windows port fills this in.
void openMessageFilter();

}  // namespace platform
