// The built-in reference data (tools/devserver/seed.sql, compiled in).
#pragma once

extern const char* const kSeedSql;
