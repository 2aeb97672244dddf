// The text of store/own_schema.sql, built into the program.
#pragma once

extern const char* const kOwnSchemaSql;
