// Start-up (and mid-run) care for a damaged edu.db. A file SQLite calls
// malformed, or one that is not a database at all, would otherwise fail every
// statement of the day. It is moved aside for the admin as
// edu.db.damaged-<yyyyMMdd-HHmmss>, a clean edu.db takes its place (the
// program folder's copy, or one made from the built-in tables), and the rows
// of the client's own tables (the stored address and whatever waits for the
// server) are copied over as far as SQLite can still read them. The server's
// reference lists refill from the server. An edu.db that is a symbolic link
// is moved aside too (edu.db.unsafe-<time>) and never read or written through.
#pragma once

#include <string>

#include "store/db_error.h"

namespace DB_Func {

struct DatabaseCheck {
  bool damaged = false;   // the file was replaced
  bool replaced = false;  // a clean edu.db is in place
  std::string keptAs;     // where the damaged file now lies
  std::string note;       // one line for the log
};

// Checks "edu.db" in `dataDir` (quick_check and the presence of the
// client's tables); a damaged one is replaced as described above, the clean
// copy coming from `programDir` when that folder's edu.db is another file.
// A missing file, a locked one or one that cannot be opened for lack of
// rights is not damage and is left alone. Never throws.
DatabaseCheck CheckDatabase(const std::string& dataDir, const std::string& programDir);

// Whether an error says the file itself is damaged (and not, say, busy or
// read-only).
bool IsDamage(const DbError& error);
// Whether an error says the disk has no room left.
bool IsDiskFull(const DbError& error);

}  // namespace DB_Func
