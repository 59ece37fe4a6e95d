// The files to extract for the selected package, held in memory, and how
// the set is built. Writing, closing and releasing the items is
// package/file_writer.h's.
#pragma once

#include <cstdint>

#include "package/selection.h"
#include "payload/payload_list.h"

constexpr uint32_t kFileItemTextSize = 261;  // MAX_PATH
constexpr char kDatabaseName[] = "main.msi";  // the package's own file, first in the set
constexpr uint32_t kWriterChunkSize = 524288;

struct FileItem {
  char name[kFileItemTextSize];  // "main.msi", or the cab entry's file name
  uint8_t* data;                 // owned: the decoded file record, or null
  uint32_t size;
  void* handle;     // open for writing (KeepOrMakeFileItem), or null; closed by CloseFileItem only
  uint32_t written;  // bytes of data written so far
  char path[kFileItemTextSize];  // folder and name, set by the extraction folder
  uint32_t recordId;  // the file record `data` was read from
  // The file open read only, sharing read only (nobody writes, deletes or
  // renames it), from the end of its writing, or from the comparison that
  // kept it, until the set is released; null before. Closed by CloseFileItem only.
  void* held;
  uint32_t remake;  // set when its written file could not be held with `data`'s bytes: it is made anew
};

struct FileSet {
  FileItem* items;  // owned; grows by exactly one zero-filled item per file
  int32_t count;
  int32_t cursor;      // the writer's item; -1 before its first step
  uint32_t chunkSize;  // most bytes one writer step writes (kWriterChunkSize)
  uintptr_t timerId;   // the progress window's timer; not used here
  // The product folder, held open by the extraction folder from the start of
  // the attempt that succeeded until the set is released: it can be neither
  // removed nor renamed, so neither swapped for a link, meanwhile. Null in a
  // zeroed set. (No member initialisers here: the run keeps its set in a
  // static that must need no constructor.)
  void* folder;
};

// The context of CollectCabEntry.
struct CabCollection {
  FileItem** items;  // &FileSet::items
  int32_t* count;    // &FileSet::count
  uint32_t payloadIndex;
  uint32_t packageId;
  uint32_t failed;  // set to 1 when a cabinet could not be added
  const PayloadList* payloads;  // where the cabinets' file records are read
};

// Zeroes `item`, copies `name` into it (cut to 260 bytes) and reads the file
// record `id` of payload `payloadIndex` into data/size and recordId, verified
// with the list's key (PayloadListKey). True when the record was found, decoded and verified; otherwise
// data stays null (the item then owns nothing) and the reason is not passed
// on.
bool LoadFileItem(const PayloadList* payloads, uint32_t payloadIndex, uint32_t id, FileItem* item,
                  const char* name);

// Adds "main.msi" (the selected package's database) and then every cabinet
// the manifests assign to the package, in walk order. `set` comes zeroed
// with cursor -1 and chunkSize set. Returns false, before anything is read,
// when the selection's product code is not a braced GUID; returns false when
// the database or any cabinet could not be loaded, a cabinet's name is not a
// plain file name (IsPlainFileName), the array could not grow, or the
// manifest walk stopped before the end of the selected payload's manifest or
// ran out of memory, or two items would be one file (NamesFoldTogether),
// unless they are one record under one name (a cab entry that names the
// package twice), whatever their bytes. Whatever was added stays in the set
// for ReleaseFileSet (package/file_writer.h).
bool BuildFileSet(const PayloadList* payloads, const PackageSelection& selection, FileSet* set);

// Whether two items of a set would be one file in the folder, which fails
// the set: their names fold together (NamesFoldTogether) and they are not
// one record under one name (a cab entry naming the package twice).
bool ItemsAreOneFile(const FileItem& a, const FileItem& b);

// ManifestEntryVisitor over a CabCollection: for a cab entry of the
// collection's payload, adds the cabinet once for every element of its
// package id list equal to packageId. A cabinet of the package whose name is
// not a plain file name is not added (nothing is read) and sets `failed`.
// Always returns 1, so every entry of every payload is examined. Entries
// with a field longer than 255 bytes are ignored.
int32_t CollectCabEntry(uint32_t payloadIndex, uint32_t entryId, const char* text, void* context);
