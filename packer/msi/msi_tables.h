// The tables of a Windows Installer database, read from the streams of its
// compound file (compound_file.h): the encoded stream names, the string
// pool every string cell refers to, the column catalogue (_Columns), the
// table list (_Tables) and any table's rows; and the Summary Information's
// Template. Each reader takes its stream as a bounded view and refuses what
// does not add up with a reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_view.h"

// A stream name as the database means it. Table streams carry a 0x4840
// prefix (*isTable) and pack two name characters from [0-9A-Za-z._] into one
// UTF-16 unit; other units stand for themselves.
std::u16string DecodeMsiStreamName(const std::u16string& stored, bool* isTable);

// The database's strings: id 0 is the null string; the others index the
// pool. Text stays in the database's code page until it is asked for.
struct MsiStringPool {
  uint32_t codePage = 0;
  uint32_t referenceBytes = 2;  // a string cell's width: 3 when the pool says so
  std::vector<uint8_t> data;
  std::vector<ByteView> strings;  // by id, into `data`
};

// Reads _StringPool (its header: the code page and the reference width;
// then a length and a reference count per string) and _StringData (the
// strings, back to back). False with *reason set when the lengths run past
// the data.
bool LoadMsiStringPool(ByteView pool, ByteView data, MsiStringPool* strings, std::string* reason);

// String `id` in UTF-8 (code_pages.h); "" for the null string. False with
// *reason set when there is no such string or it cannot be converted.
bool MsiStringText(const MsiStringPool& strings, uint32_t id, std::string* text, std::string* reason);
// Whether string `id` holds exactly the ASCII `text` (names are compared
// before any conversion, so a name in any code page can be matched).
bool MsiStringIs(const MsiStringPool& strings, uint32_t id, const std::string& text);

constexpr uint16_t kMsiTypeString = 0x0800;
constexpr uint16_t kMsiTypeValid = 0x0100;
constexpr uint16_t kMsiTypeNullable = 0x1000;

struct MsiColumn {
  std::string name;
  uint16_t type;  // _Columns' Type: width in the low byte, kMsiType* flags
};

// A table's rows, each cell its stored value: a string id, or an integer
// with its sign bit flipped; 0 is null either way.
struct MsiTable {
  std::vector<MsiColumn> columns;
  uint32_t rowCount = 0;
  std::vector<uint32_t> cells;  // row by row
};

// The names of the tables in _Tables (in the pool's bytes).
bool ReadMsiTableNames(ByteView tables, const MsiStringPool& strings, std::vector<std::string>* names,
                       std::string* reason);
// `table`'s columns from _Columns, in their order. False with *reason set
// when the catalogue is corrupt or numbers the table's columns other than
// 1..n.
bool ReadMsiColumns(ByteView columns, const MsiStringPool& strings, const std::string& table,
                    std::vector<MsiColumn>* found, std::string* reason);
// The rows of a table stream with those columns, stored column by column.
// False with *reason set when the stream is not a whole number of rows or
// a column has a width no table has.
bool ReadMsiTableRows(ByteView stream, const std::vector<MsiColumn>& columns, uint32_t referenceBytes,
                      MsiTable* table, std::string* reason);
// A cell as text: a string converted, an integer in decimal, "" for null.
bool MsiCellText(const MsiTable& table, const MsiStringPool& strings, uint32_t row, uint32_t column,
                 std::string* text, std::string* reason);

// The Template property (PID 7) of the "\005SummaryInformation" property
// set, converted from the set's code page (PID 1); "" when it has none or it
// is not a string. False with *reason set when the set is corrupt.
bool ReadSummaryTemplate(ByteView summary, std::string* templateText, std::string* reason);
