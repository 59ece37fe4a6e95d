// The packer's MSI reader on arbitrary files: the compound file (header,
// FAT, DIFAT, mini FAT, directory tree), every root stream, the string pool,
// _Tables, _Columns, the Property and Media rows and the summary's
// Template, in the order the Linux packer asks for them. The file lives in a
// heap block of exactly its size, so a read past it hits ASan's redzone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "packer/msi/compound_file.h"
#include "packer/msi/msi_tables.h"

namespace {

ByteView View(const std::vector<uint8_t>& bytes) { return ByteView{bytes.data(), bytes.size()}; }

void ReadTable(const std::map<std::u16string, std::vector<uint8_t>>& streams, const MsiStringPool& strings,
               const char* name, const std::u16string& streamName) {
  std::string reason;
  std::vector<MsiColumn> columns;
  auto catalogue = streams.find(u"_Columns");
  if (catalogue == streams.end() || !ReadMsiColumns(View(catalogue->second), strings, name, &columns, &reason))
    return;
  auto stream = streams.find(streamName);
  MsiTable table;
  if (stream == streams.end() ||
      !ReadMsiTableRows(View(stream->second), columns, strings.referenceBytes, &table, &reason))
    return;
  if (table.cells.size() != uint64_t{table.rowCount} * columns.size()) std::abort();
  for (uint32_t r = 0; r < table.rowCount; ++r)
    for (uint32_t c = 0; c < columns.size(); ++c) {
      std::string text;
      MsiCellText(table, strings, r, c, &text, &reason);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  auto* block = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(block, data, size);
  CompoundFile compound;
  std::vector<uint32_t> entries;
  std::string reason;
  if (OpenCompoundFile(ByteView{block, size}, &compound, &reason) && ListRootEntries(compound, &entries, &reason)) {
    std::map<std::u16string, std::vector<uint8_t>> streams;
    for (uint32_t index : entries) {
      bool isTable = false;
      const std::u16string name = DecodeMsiStreamName(compound.entries[index].name, &isTable);
      std::vector<uint8_t> bytes;
      if (!ReadCompoundStream(compound, index, &bytes, &reason)) continue;
      if (bytes.size() != compound.entries[index].size) std::abort();
      if (!isTable && name == u"\005SummaryInformation") {
        std::string templateText;
        ReadSummaryTemplate(View(bytes), &templateText, &reason);
      }
      if (isTable) streams[name] = bytes;
    }
    MsiStringPool strings;
    auto pool = streams.find(u"_StringPool");
    auto text = streams.find(u"_StringData");
    if (pool != streams.end() && text != streams.end() &&
        LoadMsiStringPool(View(pool->second), View(text->second), &strings, &reason)) {
      std::vector<std::string> names;
      auto tables = streams.find(u"_Tables");
      if (tables != streams.end()) ReadMsiTableNames(View(tables->second), strings, &names, &reason);
      ReadTable(streams, strings, "Property", u"Property");
      ReadTable(streams, strings, "Media", u"Media");
    }
  }
  std::free(block);
  return 0;
}
