// The Linux back-end of packer/msi/msi_database.h: the packer's own reader
// (compound_file.h, msi_tables.h), so that the Linux packer needs no MSI
// library, and no code-page conversion, from the system it runs on.
#include <algorithm>
#include <map>
#include <memory>
#include <numeric>

#include "packer/io/file_io.h"
#include "packer/msi/compound_file.h"
#include "packer/msi/msi_database.h"
#include "packer/msi/msi_tables.h"

struct MsiDatabase {
  std::vector<uint8_t> bytes;
  CompoundFile compound;
  std::map<std::u16string, uint32_t> tableStreams;  // decoded name -> entry
  uint32_t summary = kNoCompoundEntry;
  MsiStringPool strings;
};

namespace {

std::u16string Wide(const char* ascii) { return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii)); }

// A table's stream; an empty view when the database has none (a table
// without rows keeps no stream).
bool TableStream(const MsiDatabase& database, const char* name, std::vector<uint8_t>* bytes, std::string* reason) {
  bytes->clear();
  auto found = database.tableStreams.find(Wide(name));
  if (found == database.tableStreams.end()) return true;
  if (ReadCompoundStream(database.compound, found->second, bytes, reason)) return true;
  *reason = std::string(name) + ": " + *reason;
  return false;
}

// `table`'s columns and rows. False with *reason set.
bool LoadTable(const MsiDatabase& database, const char* table, MsiTable* rows, std::string* reason) {
  std::vector<uint8_t> catalogue, stream;
  std::vector<MsiColumn> columns;
  if (!TableStream(database, "_Columns", &catalogue, reason) ||
      !ReadMsiColumns(ByteView{catalogue.data(), catalogue.size()}, database.strings, table, &columns, reason) ||
      !TableStream(database, table, &stream, reason))
    return false;
  if (columns.empty()) {
    *reason = std::string("_Columns has no columns for table ") + table;
    return false;
  }
  if (!ReadMsiTableRows(ByteView{stream.data(), stream.size()}, columns, database.strings.referenceBytes, rows,
                        reason)) {
    *reason = std::string(table) + ": " + *reason;
    return false;
  }
  return true;
}

bool FindColumn(const MsiTable& rows, const char* table, const char* name, uint32_t* column, std::string* reason) {
  for (uint32_t c = 0; c < rows.columns.size(); ++c) {
    if (rows.columns[c].name == name) {
      *column = c;
      return true;
    }
  }
  *reason = std::string("table ") + table + " has no column " + name;
  return false;
}

}  // namespace

MsiDatabase* OpenMsiDatabase(const std::string& path, std::string* reason) {
  std::unique_ptr<MsiDatabase> database(new MsiDatabase());
  if (!ReadWholeFile(path, &database->bytes, reason)) return nullptr;
  std::vector<uint32_t> entries;
  if (!OpenCompoundFile(ByteView{database->bytes.data(), database->bytes.size()}, &database->compound, reason) ||
      !ListRootEntries(database->compound, &entries, reason))
    return nullptr;
  for (uint32_t index : entries) {
    bool isTable = false;
    const std::u16string name = DecodeMsiStreamName(database->compound.entries[index].name, &isTable);
    if (isTable) database->tableStreams.emplace(name, index);
    if (!isTable && name == u"\005SummaryInformation") database->summary = index;
  }
  std::vector<uint8_t> pool, data;
  if (!TableStream(*database, "_StringPool", &pool, reason) || !TableStream(*database, "_StringData", &data, reason))
    return nullptr;
  if (pool.empty()) {
    *reason = "no string pool";
    return nullptr;
  }
  if (!LoadMsiStringPool(ByteView{pool.data(), pool.size()}, ByteView{data.data(), data.size()},
                         &database->strings, reason))
    return nullptr;
  return database.release();
}

void CloseMsiDatabase(MsiDatabase* database) { delete database; }

bool ReadMsiTemplate(MsiDatabase* database, std::string* templateText, std::string* reason) {
  templateText->clear();
  // A database without summary information reads as one whose Template is
  // empty, as the Windows Installer reads it.
  if (database->summary == kNoCompoundEntry) return true;
  std::vector<uint8_t> summary;
  return ReadCompoundStream(database->compound, database->summary, &summary, reason) &&
         ReadSummaryTemplate(ByteView{summary.data(), summary.size()}, templateText, reason);
}

bool HasMsiTable(MsiDatabase* database, const char* table, bool* has, std::string* reason) {
  std::vector<uint8_t> stream;
  std::vector<std::string> names;
  if (!TableStream(*database, "_Tables", &stream, reason) ||
      !ReadMsiTableNames(ByteView{stream.data(), stream.size()}, database->strings, &names, reason))
    return false;
  *has = std::find(names.begin(), names.end(), table) != names.end();
  return true;
}

bool ReadMsiProperty(MsiDatabase* database, const char* name, std::string* value, std::string* reason) {
  value->clear();
  MsiTable rows;
  uint32_t key = 0, column = 0;
  if (!LoadTable(*database, "Property", &rows, reason) || !FindColumn(rows, "Property", "Property", &key, reason) ||
      !FindColumn(rows, "Property", "Value", &column, reason))
    return false;
  for (uint32_t r = 0; r < rows.rowCount; ++r) {
    if (!MsiStringIs(database->strings, rows.cells[r * rows.columns.size() + key], name)) continue;
    std::string conversion;
    if (!MsiCellText(rows, database->strings, r, column, value, &conversion)) *reason = conversion;
    return true;
  }
  return true;
}

bool ReadMsiColumnOrdered(MsiDatabase* database, const char* table, const char* column, const char* orderBy,
                          std::vector<std::string>* values, std::string* reason) {
  MsiTable rows;
  uint32_t wanted = 0, order = 0;
  if (!LoadTable(*database, table, &rows, reason) || !FindColumn(rows, table, column, &wanted, reason) ||
      !FindColumn(rows, table, orderBy, &order, reason))
    return false;
  if (rows.columns[order].type & kMsiTypeString) {
    *reason = std::string("column ") + orderBy + " of table " + table + " holds no integers";
    return false;
  }
  // Stored integers have their sign bit flipped, so their unsigned order is
  // the values' order, with null (0) first.
  std::vector<uint32_t> sequence(rows.rowCount);
  std::iota(sequence.begin(), sequence.end(), 0u);
  const size_t width = rows.columns.size();
  std::stable_sort(sequence.begin(), sequence.end(), [&](uint32_t a, uint32_t b) {
    return rows.cells[a * width + order] < rows.cells[b * width + order];
  });
  for (uint32_t r : sequence) {
    std::string text;
    if (!MsiCellText(rows, database->strings, r, wanted, &text, reason)) {
      *reason = std::string(table) + "." + column + ": " + *reason;
      return false;
    }
    values->push_back(text);
  }
  return true;
}
