// The client's local database edu.db, in the data folder (beside the program
// unless that folder is read-only, see platform/data_dir.h), and the
// reference-data cache in it. The file comes with all its tables; the client
// only reads it and replaces the rows of the six cache tables.
//
// Every operation opens its own connection and closes it before it returns.
// A failing statement throws DbError (SQLite's code and message); nothing
// here catches it. All text in and out is the client's GBK: values are
// stored as UTF-8 and the row sets hand them back as GBK (see row_set.h).
#pragma once

#include <string>
#include <vector>

#include "store/db_error.h"
#include "store/row_set.h"

namespace DB_Func {

// Sets DatabasePath() to "edu.db" in the data folder when that file
// exists, to empty text otherwise; returns whether it exists. Called once at
// start-up: a file placed there later is not seen until the next start.
bool LocateDatabase();
// The same, for "edu.db" in `folder`.
bool LocateDatabaseIn(const std::string& folder);
// The file every operation opens (a path as the file system spells it);
// empty when none was found, and then every operation fails.
const std::string& DatabasePath();

// Every row of t_login_info; start-up takes http_url of the first row.
RowSet ReadLoginInfo();

// Stores `serverUrl` (GBK) as http_url of every t_login_info row, or in a
// new row holding only the address when the table has none. The admin
// command's way of setting the address; the client itself never writes it.
void StoreServerUrl(const std::string& serverUrl);

// What "PRAGMA integrity_check" says of the located edu.db, its lines
// joined ("ok" when sound). Throws DbError when it cannot be opened.
std::string IntegrityCheck();

// The number of rows in each table of the server's reference data (and the
// recent-teacher list), in a fixed order, for the admin command.
struct TableRowCount {
  std::string table;
  long long rows = 0;
};
std::vector<TableRowCount> CountCachedRows();

// Every value reaches a statement as a bound parameter, never spliced into
// its text, so no value (an apostrophe in a name included) can change a
// statement. A name or telephone value is stored with one space after it
// (edu.db has always held them so; reading trims it): this gives that
// stored form. Every other value is stored as it is.
std::string SqlQuoteText(const std::string& value);

// The cached lists, each for one scope (ids as text).
RowSet QueryRecentTeachers(const std::string& schoolId);  // newest first, at most 10
RowSet QueryTeachers(const std::string& schoolId);        // by acronym
RowSet QuerySchools(const std::string& districtId);
RowSet QueryProvinces();                            // by provinceID
RowSet QueryCities(const std::string& provinceId);  // by cityID
RowSet QueryAreas(const std::string& cityId);       // by areaID
RowSet QueryGrades(const std::string& schoolId);
RowSet QueryClasses(const std::string& gradeId);
RowSet QuerySubjects(const std::string& gradeId);
RowSet QueryCatalogs(const std::string& subjectId, const std::string& gradeId);

// Replace the cached rows of one scope by the `jsonData` records of a reply
// (its JSON part), in the reply's order. A JSON part without a `jsonData`
// list changes nothing. The scope's old rows are deleted in the same
// transaction as the new ones are inserted, so a failure leaves the scope as
// it was. An empty scope id deletes nothing.
void RefreshTeachers(const std::string& jsonPart, const std::string& schoolId);
void RefreshSchools(const std::string& jsonPart, const std::string& districtId);
void RefreshGrades(const std::string& jsonPart, const std::string& schoolId);
void RefreshClasses(const std::string& jsonPart, const std::string& gradeId);
void RefreshSubjects(const std::string& jsonPart, const std::string& gradeId);
void RefreshCatalogs(const std::string& jsonPart, const std::string& subjectId, const std::string& gradeId);

}  // namespace DB_Func
