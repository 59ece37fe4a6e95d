#include "packer/msi/msi_tables.h"

#include <cstring>

#include "packer/msi/code_pages.h"

namespace {

constexpr char16_t kTablePrefix = 0x4840;
constexpr uint16_t kStringColumn = kMsiTypeString | kMsiTypeValid | 64;
constexpr uint16_t kShortColumn = kMsiTypeValid | 2;

char16_t NameCharacter(unsigned sixBits) {
  if (sixBits < 10) return static_cast<char16_t>(u'0' + sixBits);
  if (sixBits < 36) return static_cast<char16_t>(u'A' + sixBits - 10);
  if (sixBits < 62) return static_cast<char16_t>(u'a' + sixBits - 36);
  return sixBits == 62 ? u'.' : u'_';
}

bool IsBinary(uint16_t type) { return (type & ~kMsiTypeNullable) == (kMsiTypeString | kMsiTypeValid); }

// A cell's width in a table stream, or 0 for a type no table stores.
uint32_t ColumnWidth(uint16_t type, uint32_t referenceBytes) {
  if (IsBinary(type)) return 2;
  if (type & kMsiTypeString) return referenceBytes;
  const uint32_t size = type & 0xFF;
  return size <= 2 ? 2 : size == 4 ? 4 : 0;
}

uint32_t ReadCell(ByteView bytes, uint64_t at, uint32_t width) {
  uint32_t value = 0;
  for (uint32_t k = 0; k < width; ++k) value |= uint32_t{bytes.data[at + k]} << (8 * k);
  return value;
}

}  // namespace

std::u16string DecodeMsiStreamName(const std::u16string& stored, bool* isTable) {
  std::u16string name;
  size_t at = 0;
  *isTable = !stored.empty() && stored[0] == kTablePrefix;
  if (*isTable) at = 1;
  for (; at < stored.size(); ++at) {
    const char16_t unit = stored[at];
    if (unit >= 0x3800 && unit < 0x4800) {
      name.push_back(NameCharacter((unit - 0x3800) & 0x3F));
      name.push_back(NameCharacter(((unit - 0x3800) >> 6) & 0x3F));
    } else if (unit >= 0x4800 && unit < 0x4840) {
      name.push_back(NameCharacter(unit - 0x4800));
    } else {
      name.push_back(unit);
    }
  }
  return name;
}

bool LoadMsiStringPool(ByteView pool, ByteView data, MsiStringPool* strings, std::string* reason) {
  *strings = MsiStringPool();
  strings->data.assign(data.data, data.data + data.size);
  const ByteView text{strings->data.data(), strings->data.size()};
  uint16_t low = 0, high = 0;
  U16(pool, 0, &low);
  U16(pool, 2, &high);
  // A pool of its header alone keeps no code page: the neutral one.
  if (pool.size > 4) strings->codePage = low | uint32_t(high & 0x7FFF) << 16;
  strings->referenceBytes = high & 0x8000 ? 3 : 2;
  strings->strings.push_back(ByteView{nullptr, 0});
  const uint64_t count = pool.size / 4;
  uint64_t offset = 0;
  for (uint64_t i = 1; i < count; ++i) {
    uint16_t length = 0, references = 0;
    U16(pool, 4 * i, &length);
    U16(pool, 4 * i + 2, &references);
    uint64_t size = length;
    // A string of 64 KiB or more: a zero length whose count is not zero,
    // and its length in the next entry, high half second.
    if (length == 0 && references != 0) {
      uint16_t lowHalf = 0, highHalf = 0;
      if (!U16(pool, 4 * i + 4, &lowHalf) || !U16(pool, 4 * i + 6, &highHalf)) {
        *reason = "the string pool ends inside a long string's entry";
        return false;
      }
      size = uint64_t{highHalf} << 16 | lowHalf;
      ++i;
    }
    ByteView string{};
    if (!Sub(text, offset, size, &string)) {
      *reason = "string " + std::to_string(strings->strings.size()) + " runs past the end of the string data";
      return false;
    }
    strings->strings.push_back(string);
    offset += size;
  }
  return true;
}

bool MsiStringText(const MsiStringPool& strings, uint32_t id, std::string* text, std::string* reason) {
  if (id >= strings.strings.size()) {
    *reason = "a cell names string " + std::to_string(id) + ", which the pool does not hold";
    return false;
  }
  return ConvertCodePageToUtf8(strings.codePage, strings.strings[id], text, reason);
}

bool MsiStringIs(const MsiStringPool& strings, uint32_t id, const std::string& text) {
  if (id == 0 || id >= strings.strings.size()) return false;
  const ByteView s = strings.strings[id];
  return s.size == text.size() && (s.size == 0 || std::memcmp(s.data, text.data(), s.size) == 0);
}

bool ReadMsiTableRows(ByteView stream, const std::vector<MsiColumn>& columns, uint32_t referenceBytes,
                      MsiTable* table, std::string* reason) {
  *table = MsiTable();
  table->columns = columns;
  uint64_t rowWidth = 0;
  for (const MsiColumn& column : columns) {
    const uint32_t width = ColumnWidth(column.type, referenceBytes);
    if (width == 0) {
      *reason = "column " + column.name + " has a type no table stores (" + std::to_string(column.type) + ")";
      return false;
    }
    rowWidth += width;
  }
  if (rowWidth == 0 || stream.size % rowWidth != 0) {
    *reason = "the stream's " + std::to_string(stream.size) + " bytes are not a whole number of " +
              std::to_string(rowWidth) + "-byte rows";
    return false;
  }
  table->rowCount = static_cast<uint32_t>(stream.size / rowWidth);
  table->cells.resize(uint64_t{table->rowCount} * columns.size());
  // Column-major: each column's cells for every row, then the next column.
  uint64_t columnStart = 0;
  for (size_t c = 0; c < columns.size(); ++c) {
    const uint32_t width = ColumnWidth(columns[c].type, referenceBytes);
    for (uint32_t r = 0; r < table->rowCount; ++r)
      table->cells[r * columns.size() + c] = ReadCell(stream, columnStart + uint64_t{r} * width, width);
    columnStart += uint64_t{table->rowCount} * width;
  }
  return true;
}

bool MsiCellText(const MsiTable& table, const MsiStringPool& strings, uint32_t row, uint32_t column,
                 std::string* text, std::string* reason) {
  const uint32_t value = table.cells.at(uint64_t{row} * table.columns.size() + column);
  const uint16_t type = table.columns[column].type;
  text->clear();
  if (value == 0 || IsBinary(type)) return true;
  if (type & kMsiTypeString) return MsiStringText(strings, value, text, reason);
  const int64_t number = (type & 0xFF) <= 2 ? int64_t{value} - 0x8000 : int64_t{int32_t(value ^ 0x80000000u)};
  *text = std::to_string(number);
  return true;
}

bool ReadMsiTableNames(ByteView tables, const MsiStringPool& strings, std::vector<std::string>* names,
                       std::string* reason) {
  MsiTable table;
  if (!ReadMsiTableRows(tables, {{"Name", kStringColumn}}, strings.referenceBytes, &table, reason)) {
    *reason = "_Tables: " + *reason;
    return false;
  }
  names->clear();
  for (uint32_t id : table.cells)
    if (id < strings.strings.size())
      names->emplace_back(reinterpret_cast<const char*>(strings.strings[id].data), strings.strings[id].size);
  return true;
}

bool ReadMsiColumns(ByteView columns, const MsiStringPool& strings, const std::string& table,
                    std::vector<MsiColumn>* found, std::string* reason) {
  MsiTable catalogue;
  const std::vector<MsiColumn> layout = {
      {"Table", kStringColumn}, {"Number", kShortColumn}, {"Name", kStringColumn}, {"Type", kShortColumn}};
  if (!ReadMsiTableRows(columns, layout, strings.referenceBytes, &catalogue, reason)) {
    *reason = "_Columns: " + *reason;
    return false;
  }
  found->clear();
  std::vector<bool> numbered;
  for (uint32_t r = 0; r < catalogue.rowCount; ++r) {
    const uint32_t* cells = &catalogue.cells[r * 4];
    if (!MsiStringIs(strings, cells[0], table)) continue;
    const int64_t number = int64_t{cells[1]} - 0x8000;
    if (number < 1 || number > 32 || (number <= int64_t(numbered.size()) && numbered[number - 1])) {
      *reason = "_Columns numbers a column of " + table + " " + std::to_string(number);
      return false;
    }
    if (numbered.size() < size_t(number)) {
      numbered.resize(number, false);
      found->resize(number);
    }
    numbered[number - 1] = true;
    MsiColumn& column = (*found)[number - 1];
    column.type = static_cast<uint16_t>(cells[3] - 0x8000);
    if (!MsiStringText(strings, cells[2], &column.name, reason)) return false;
  }
  for (bool seen : numbered) {
    if (!seen) {
      *reason = "_Columns leaves a gap in the columns of " + table;
      return false;
    }
  }
  return true;
}

bool ReadSummaryTemplate(ByteView summary, std::string* templateText, std::string* reason) {
  templateText->clear();
  uint16_t byteOrder = 0;
  uint32_t sets = 0, sectionAt = 0, sectionSize = 0, count = 0;
  ByteView section{};
  if (!U16(summary, 0, &byteOrder) || byteOrder != 0xFFFE || !U32(summary, 24, &sets) || sets == 0 ||
      !U32(summary, 44, &sectionAt) || !U32(summary, sectionAt, &sectionSize) ||
      !Sub(summary, sectionAt, sectionSize, &section) || !U32(section, 4, &count) ||
      !SpanFits(section.size, 8, uint64_t{count} * 8)) {
    *reason = "the summary information is not a property set";
    return false;
  }
  uint32_t codePage = 0;
  ByteView text{nullptr, 0};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = 0, at = 0, type = 0;
    U32(section, 8 + 8 * i, &id);
    U32(section, 12 + 8 * i, &at);
    if (id != 1 && id != 7) continue;
    if (!U32(section, at, &type)) {
      *reason = "summary property " + std::to_string(id) + " lies outside its set";
      return false;
    }
    uint16_t shortValue = 0;
    uint32_t length = 0;
    if (id == 1 && type == 2 && U16(section, uint64_t{at} + 4, &shortValue)) codePage = shortValue;
    if (id == 7 && type == 30) {
      // The length counts a terminator; the text is what comes before it.
      if (!U32(section, uint64_t{at} + 4, &length) || !Sub(section, uint64_t{at} + 8, length, &text)) {
        *reason = "the summary's Template runs past its property set";
        return false;
      }
      const void* end = text.size ? std::memchr(text.data, 0, text.size) : nullptr;
      if (end != nullptr) text.size = static_cast<const uint8_t*>(end) - text.data;
    }
  }
  if (!ConvertCodePageToUtf8(codePage, text, templateText, reason)) {
    *reason = "Template: " + *reason;
    return false;
  }
  return true;
}
