// The text of store/own_schema.sql and of store/schema.sql (the server's
// tables), built into the program.
#pragma once

extern const char* const kOwnSchemaSql;
extern const char* const kReferenceSchemaSql;
