// Small helpers shared by the tests: where things are, free ports,
// temporary folders and waiting on the event loop.
#pragma once

#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Folder of the built program (edu-client, edu.db, companions, assets).
std::string programDir();
// Copies edu.db with the demo's rows (one district, its schools, teachers,
// grades, classes, subjects, catalogs, and 张伟's stored login with the
// address 127.0.0.1:8090) into `folder` as edu.db, replacing one that is
// there; returns whether it worked. The program folder's own edu.db has no
// rows.
bool seedDemoDatabase(const std::string& folder);
// A file of the source tree, from a path relative to its top.
std::string sourcePath(const std::string& relative);
// A TCP port on 127.0.0.1 that was free a moment ago.
int freePort();
// Runs the event loop until `condition` holds or `timeoutMs` has passed;
// returns whether it held. The condition is asked again every `pollMs`
// (and after events): give a longer one when asking is costly (a picture
// of the screen, a request log read from a file). The time-out is only a
// generous limit: a test never waits it out on purpose.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000, int pollMs = 2);
// Copies a built program (diskid, LockScreen, ...) from the program folder
// into the folder of the running test program, so that code looking for
// companions beside itself finds it; returns whether it is there.
bool placeBesideTestProgram(const std::string& name);
// Reads a whole file as bytes (empty when it cannot be read).
std::string readFile(const std::string& path);
// Writes bytes to a file, creating it; returns whether it worked.
bool writeFile(const std::string& path, const std::string& bytes);
// The regular files anywhere below `folder`, as "/"-led paths relative to
// it, sorted (an FTP server's root read back as the server names its files).
std::vector<std::string> filesBelow(const std::string& folder);
// Whether the environment variable CI is set. CI installs every tool the
// tests use, so there a missing one is a fault, never a reason to skip.
bool runningInCi();

}  // namespace testsupport

// Ends the test (or its SetUp) for want of a tool, naming it in `why`:
// skipped on a developer's machine, failed when CI is set.
#define SKIP_WITHOUT_TOOL(why)                                                \
  do {                                                                        \
    if (testsupport::runningInCi()) {                                         \
      GTEST_FAIL() << (why) << " (CI is set: a missing tool fails the test)"; \
    }                                                                         \
    GTEST_SKIP() << (why);                                                    \
  } while (false)
