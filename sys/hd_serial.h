// This computer's identity towards the server: the serial number of its
// first hard disk, found once at start-up. The disk is asked directly
// first; when that gives nothing, the diskid tool beside the program is run.
#pragma once

#include <chrono>
#include <string>

// The first of the two direct ways (ATA identify of the first disk, the unit
// serial number page of the disk holding "/") that gives a non-empty text,
// trimmed; empty when neither does. Never fails.
std::string ReadDiskSerial();

// How long diskid may take before it is stopped and its output so far used.
inline constexpr std::chrono::milliseconds kToolTimeLimit{10000};

// Runs the tool at `toolPath` and returns the trimmed serial number from its
// output (empty when it cannot be started or prints no serial line). Window
// messages keep being handled while it runs.
std::string ReadToolSerial(const std::string& toolPath, std::chrono::milliseconds timeLimit = kToolTimeLimit);
// The same with diskid found as a companion (the program folder, then PATH).
std::string ReadToolSerial();

// What start-up stores as the disk identity: ReadDiskSerial, else the tool.
std::string ReadDiskIdentity();

// The same, with where it came from, for the diagnostic log.
struct DiskIdentity {
  std::string serial;
  std::string source;  // "disk", "diskid tool" or "none"
};
DiskIdentity ReadDiskIdentityAndSource();
