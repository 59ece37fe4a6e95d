// The MSI library under msi_reader.cpp, one back-end per system: the
// packer's own reader on Linux (msi_database_tables.cpp, over
// compound_file.h and msi_tables.h), the system's own msi.dll on Windows
// (msi_database_msidll.cpp). Both answer the same narrow questions, so that
// the two packers learn the same facts from the same database. A reason is
// the back-end's own words for what failed.
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

// Whether _Tables lists `table`. False with *reason set when the table list
// cannot be read.
bool HasMsiTable(MsiDatabase* database, const char* table, bool* has, std::string* reason);

// The Property table's Value for `name` in UTF-8 ("" when the table has no
// such row or its value is null). False with *reason set when the table
// cannot be read. A value that is there but cannot be converted to UTF-8
// gives true, "" and *reason saying why, so that the caller may take the
// value from elsewhere.
bool ReadMsiProperty(MsiDatabase* database, const char* name, std::string* value, std::string* reason);

// Column `column` of every row of `table`, ordered by its integer column
// `orderBy` (UTF-8; "" for a null field). False with *reason set when the
// table, either column or a value cannot be read.
bool ReadMsiColumnOrdered(MsiDatabase* database, const char* table, const char* column, const char* orderBy,
                          std::vector<std::string>* values, std::string* reason);
