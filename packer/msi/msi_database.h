// The MSI library under msi_reader.cpp, one back-end per system: libmsi on
// Linux (msi_database_libmsi.cpp), the system's own msi.dll on Windows
// (msi_database_msidll.cpp). Both run the same queries, so that the
// two packers learn the same facts from the same database. A reason is the
// library's own words for what failed.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct MsiDatabase;  // one database, open read-only (opaque)

// Opens `path` (UTF-8) read-only; close it with CloseMsiDatabase (or hold it
// in an MsiDatabasePtr). Null with *reason set when it is no readable
// database.
MsiDatabase* OpenMsiDatabase(const std::string& path, std::string* reason);
// Closes a database from OpenMsiDatabase; null is ignored.
void CloseMsiDatabase(MsiDatabase* database);

struct MsiDatabaseClose {
  void operator()(MsiDatabase* database) const { CloseMsiDatabase(database); }
};
using MsiDatabasePtr = std::unique_ptr<MsiDatabase, MsiDatabaseClose>;

// The Summary Information's Template property, UTF-8 ("" when it has none).
// False with *reason set when the summary information cannot be read.
bool ReadMsiTemplate(MsiDatabase* database, std::string* templateText, std::string* reason);

// Runs a query that selects one column and appends every row's value in
// order (UTF-8; "" for a null field). False with *reason set when the query
// cannot run or a row cannot be read.
bool QueryMsiColumn(MsiDatabase* database, const char* sql, std::vector<std::string>* values,
                    std::string* reason);

// libmsi warns on standard error about files it cannot open; the packer
// says so itself, in one line that names the file. Call once, first (on
// Windows there is nothing to silence).
void SilenceMsiLibraryLogs();
