#include "packer/msi/compound_file.h"

#include <algorithm>

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kMiniSectorShift = 6;
constexpr uint32_t kMiniStreamCutoff = 4096;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kEntrySize = 128;
constexpr uint8_t kStorage = 1, kStream = 2, kRoot = 5;

// Sectors after the header that the file holds, the last one possibly cut
// short (writers do not always pad it).
uint64_t SectorCount(ByteView file, uint32_t shift) {
  const uint64_t sector = uint64_t{1} << shift;
  return file.size <= sector ? 0 : (file.size - sector + sector - 1) >> shift;
}

// Sector `n`, or its first `length` bytes. False when it lies past the end.
bool SectorBytes(ByteView file, uint32_t shift, uint32_t n, uint64_t length, ByteView* bytes) {
  return n < SectorCount(file, shift) && Sub(file, (uint64_t{n} + 1) << shift, length, bytes);
}

bool AppendU32s(ByteView bytes, std::vector<uint32_t>* values) {
  for (uint64_t at = 0; at + 4 <= bytes.size; at += 4) {
    uint32_t value = 0;
    U32(bytes, at, &value);
    values->push_back(value);
  }
  return true;
}

// The chain from `start` in `table`, stopping after `wanted` links (or at
// its end when `wanted` is UINT64_MAX). False with *reason set when it points
// outside the table, comes back on itself, or ends before `wanted` links.
bool FollowChain(const std::vector<uint32_t>& table, uint32_t start, uint64_t wanted, const std::string& what,
                 std::vector<uint32_t>* chain, std::string* reason) {
  chain->clear();
  std::vector<bool> seen(table.size(), false);
  for (uint32_t link = start; link != kEndOfChain && chain->size() < wanted; link = table[link]) {
    if (link >= table.size()) {
      *reason = what + "'s sector chain points outside its allocation table (sector " + std::to_string(link) + ")";
      return false;
    }
    if (seen[link]) {
      *reason = what + "'s sector chain loops (at sector " + std::to_string(link) + ")";
      return false;
    }
    seen[link] = true;
    chain->push_back(link);
  }
  if (wanted != UINT64_MAX && chain->size() < wanted) {
    *reason = what + " is cut short: its sector chain ends early";
    return false;
  }
  return true;
}

// The bytes of a chain of whole sectors in the file (`size` of them, or all
// the chain holds when it is UINT64_MAX).
bool ReadFileChain(const CompoundFile& compound, uint32_t start, uint64_t size, const std::string& what,
                   std::vector<uint8_t>* bytes, std::string* reason) {
  const uint64_t sector = uint64_t{1} << compound.sectorShift;
  const bool whole = size == UINT64_MAX;
  if (!whole && size > compound.file.size) {
    *reason = what + " claims " + std::to_string(size) + " bytes, more than the file holds";
    return false;
  }
  std::vector<uint32_t> chain;
  if (!FollowChain(compound.fat, start, whole ? UINT64_MAX : (size + sector - 1) / sector, what, &chain, reason))
    return false;
  bytes->clear();
  for (uint32_t link : chain) {
    const uint64_t length = whole ? sector : std::min<uint64_t>(sector, size - bytes->size());
    ByteView part{};
    if (!SectorBytes(compound.file, compound.sectorShift, link, length, &part)) {
      *reason = what + " lies past the end of the file (sector " + std::to_string(link) + ")";
      return false;
    }
    bytes->insert(bytes->end(), part.data, part.data + part.size);
  }
  return true;
}

bool ReadHeaderFat(ByteView file, uint32_t shift, std::vector<uint32_t>* fat, std::string* reason) {
  uint32_t fatSectors = 0, difatStart = 0, difatSectors = 0;
  U32(file, 0x2C, &fatSectors);
  U32(file, 0x44, &difatStart);
  U32(file, 0x48, &difatSectors);
  if (fatSectors > SectorCount(file, shift)) {
    *reason = "the header names " + std::to_string(fatSectors) + " FAT sectors, more than the file holds";
    return false;
  }
  std::vector<uint32_t> where;
  for (size_t i = 0; i < kHeaderDifatEntries && where.size() < fatSectors; ++i) {
    uint32_t sector = 0;
    U32(file, 0x4C + 4 * i, &sector);
    where.push_back(sector);
  }
  // The rest of the list is chained through DIFAT sectors, the last entry of
  // each naming the next.
  const size_t perSector = (size_t{1} << shift) / 4 - 1;
  std::vector<bool> seen(SectorCount(file, shift), false);
  for (uint32_t next = difatStart, count = 0; where.size() < fatSectors; ++count) {
    ByteView bytes{};
    if (count >= difatSectors || !SectorBytes(file, shift, next, size_t{1} << shift, &bytes)) {
      *reason = "the DIFAT is cut short or points outside the file";
      return false;
    }
    if (seen[next]) {
      *reason = "the DIFAT's sector chain loops (at sector " + std::to_string(next) + ")";
      return false;
    }
    seen[next] = true;
    for (size_t i = 0; i < perSector && where.size() < fatSectors; ++i) {
      uint32_t sector = 0;
      U32(bytes, 4 * i, &sector);
      where.push_back(sector);
    }
    U32(bytes, 4 * perSector, &next);
  }
  for (uint32_t sector : where) {
    ByteView bytes{};
    if (!SectorBytes(file, shift, sector, size_t{1} << shift, &bytes)) {
      *reason = "a FAT sector lies outside the file (sector " + std::to_string(sector) + ")";
      return false;
    }
    AppendU32s(bytes, fat);
  }
  return true;
}

bool ReadDirectory(CompoundFile* compound, uint32_t start, bool version3, std::string* reason) {
  std::vector<uint8_t> bytes;
  if (!ReadFileChain(*compound, start, UINT64_MAX, "the directory", &bytes, reason)) return false;
  const ByteView view{bytes.data(), bytes.size()};
  for (uint64_t at = 0; at + kEntrySize <= view.size; at += kEntrySize) {
    ByteView raw{};
    Sub(view, at, kEntrySize, &raw);
    uint16_t nameBytes = 0;
    U16(raw, 64, &nameBytes);
    CompoundEntry entry{};
    entry.type = raw.data[66];
    if (entry.type != 0 && (nameBytes > 64 || nameBytes % 2 != 0)) {
      *reason = "directory entry " + std::to_string(at / kEntrySize) + " has a name of " + std::to_string(nameBytes) +
                " bytes";
      return false;
    }
    for (uint16_t i = 0; i + 2 < nameBytes; i += 2) {
      uint16_t unit = 0;
      U16(raw, i, &unit);
      entry.name.push_back(static_cast<char16_t>(unit));
    }
    U32(raw, 68, &entry.left);
    U32(raw, 72, &entry.right);
    U32(raw, 76, &entry.child);
    U32(raw, 116, &entry.start);
    uint32_t low = 0, high = 0;
    U32(raw, 120, &low);
    U32(raw, 124, &high);
    // Version 3 files keep only 32 bits of size; some writers leave the rest unset.
    entry.size = version3 ? low : (uint64_t{high} << 32 | low);
    compound->entries.push_back(entry);
  }
  if (compound->entries.empty() || compound->entries[0].type != kRoot) {
    *reason = "the directory does not start with the root entry";
    return false;
  }
  return true;
}

}  // namespace

bool OpenCompoundFile(ByteView file, CompoundFile* compound, std::string* reason) {
  *compound = CompoundFile();
  compound->file = file;
  ByteView signature{};
  if (!Sub(file, 0, 512, &signature) || !std::equal(kSignature, kSignature + 8, signature.data)) {
    *reason = "no compound file signature";
    return false;
  }
  uint16_t major = 0, byteOrder = 0, sectorShift = 0, miniShift = 0;
  uint32_t directoryStart = 0, cutoff = 0, miniFatStart = 0;
  U16(file, 0x1A, &major);
  U16(file, 0x1C, &byteOrder);
  U16(file, 0x1E, &sectorShift);
  U16(file, 0x20, &miniShift);
  U32(file, 0x30, &directoryStart);
  U32(file, 0x38, &cutoff);
  U32(file, 0x3C, &miniFatStart);
  if (byteOrder != 0xFFFE || (major != 3 && major != 4)) {
    *reason = "unknown compound file version " + std::to_string(major);
    return false;
  }
  if (sectorShift != (major == 3 ? 9 : 12) || miniShift != kMiniSectorShift || cutoff != kMiniStreamCutoff) {
    *reason = "sector shift " + std::to_string(sectorShift) + " (mini " + std::to_string(miniShift) +
              ") is not the one compound file version " + std::to_string(major) + " has";
    return false;
  }
  compound->sectorShift = sectorShift;
  if (!ReadHeaderFat(file, sectorShift, &compound->fat, reason) ||
      !ReadDirectory(compound, directoryStart, major == 3, reason))
    return false;
  std::vector<uint8_t> miniFat;
  if (miniFatStart != kEndOfChain &&
      !ReadFileChain(*compound, miniFatStart, UINT64_MAX, "the mini FAT", &miniFat, reason))
    return false;
  AppendU32s(ByteView{miniFat.data(), miniFat.size()}, &compound->miniFat);
  const CompoundEntry& root = compound->entries[0];
  return root.size == 0 ||
         ReadFileChain(*compound, root.start, root.size, "the mini stream", &compound->miniStream, reason);
}

bool ListRootEntries(const CompoundFile& compound, std::vector<uint32_t>* indexes, std::string* reason) {
  indexes->clear();
  std::vector<bool> seen(compound.entries.size(), false);
  std::vector<uint32_t> pending;
  // In-order walk of the red-black tree, without recursion: a crafted tree
  // may be as deep as the directory is long.
  uint32_t at = compound.entries[0].child;
  while (at != kNoCompoundEntry || !pending.empty()) {
    if (at != kNoCompoundEntry) {
      if (at >= compound.entries.size() || seen[at] || compound.entries[at].type == kRoot) {
        *reason = "the root storage's directory tree loops or points outside the directory";
        return false;
      }
      seen[at] = true;
      pending.push_back(at);
      at = compound.entries[at].left;
      continue;
    }
    at = pending.back();
    pending.pop_back();
    indexes->push_back(at);
    at = compound.entries[at].right;
  }
  return true;
}

bool ReadCompoundStream(const CompoundFile& compound, uint32_t index, std::vector<uint8_t>* bytes,
                        std::string* reason) {
  const CompoundEntry& entry = compound.entries.at(index);
  const std::string what = "stream " + std::to_string(index);
  if (entry.type != kStream) {
    *reason = what + " is a " + (entry.type == kStorage ? "storage" : "free entry") + ", not a stream";
    return false;
  }
  if (entry.size >= kMiniStreamCutoff) return ReadFileChain(compound, entry.start, entry.size, what, bytes, reason);
  const uint64_t mini = uint64_t{1} << kMiniSectorShift;
  std::vector<uint32_t> chain;
  if (!FollowChain(compound.miniFat, entry.start, (entry.size + mini - 1) / mini, what, &chain, reason))
    return false;
  bytes->clear();
  const ByteView stream{compound.miniStream.data(), compound.miniStream.size()};
  for (uint32_t link : chain) {
    ByteView part{};
    if (!Sub(stream, uint64_t{link} << kMiniSectorShift, std::min<uint64_t>(mini, entry.size - bytes->size()),
             &part)) {
      *reason = what + " lies past the end of the mini stream";
      return false;
    }
    bytes->insert(bytes->end(), part.data, part.data + part.size);
  }
  return true;
}
