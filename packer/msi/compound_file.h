// The compound file a Windows Installer database is stored in: a small file
// system of sectors, chained through a FAT, with a second, finer FAT for the
// streams kept in the root's mini stream. The reader takes the whole file
// as a bounded view and never reads past it; every chain is bounded by the
// number of sectors it could hold and refused when it comes back on itself,
// so a crafted file can neither loop the packer nor make it read outside
// the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_view.h"

struct CompoundEntry {
  std::u16string name;  // as stored, without its terminator
  uint8_t type;         // 1 storage, 2 stream, 5 the root
  uint32_t left;        // siblings in the storage's tree, or kNoCompoundEntry
  uint32_t right;
  uint32_t child;       // a storage's first child in its tree
  uint32_t start;       // first sector (a mini sector for a small stream)
  uint64_t size;        // bytes
};

constexpr uint32_t kNoCompoundEntry = 0xFFFFFFFF;

// What OpenCompoundFile learnt of a file: its geometry, both allocation
// tables and the directory, as a flat list (entry 0 is the root). `file`
// still points at the caller's bytes, which must outlive it.
struct CompoundFile {
  ByteView file;
  uint32_t sectorShift;
  std::vector<uint32_t> fat;
  std::vector<uint32_t> miniFat;
  std::vector<CompoundEntry> entries;
  std::vector<uint8_t> miniStream;  // the root's stream, which holds the small streams
};

// Reads the header, the FAT (through the header's and the chained DIFAT),
// the directory, the mini FAT and the mini stream. False with *reason set
// ("the FAT's sector chain loops", ...) when the file is not a compound file
// or is corrupt.
bool OpenCompoundFile(ByteView file, CompoundFile* compound, std::string* reason);

// The entries directly inside the root storage (their indexes, in tree
// order): where a Windows Installer database keeps its streams. False with
// *reason set when the tree points outside the directory or loops.
bool ListRootEntries(const CompoundFile& compound, std::vector<uint32_t>* indexes, std::string* reason);

// The bytes of stream entry `index`. False with *reason set when the entry
// is no stream or its chain is cut short, loops or leaves the file.
bool ReadCompoundStream(const CompoundFile& compound, uint32_t index, std::vector<uint8_t>* bytes,
                        std::string* reason);
