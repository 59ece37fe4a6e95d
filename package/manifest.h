// The manifest of a payload and the walk over the entries of all payloads.
//
//   entry = id u32 | byteLength u32 | text (byteLength bytes, UTF-16LE)
//
// Entries follow each other with no header, padding or alignment; the next
// entry starts right after the text whatever its length. Texts are either
// package entries "arch\lcids\{product code}\product name" or cab entries
// "cab\package ids\file name".
#pragma once

#include <cstdint>

#include "payload/payload_list.h"

// One entry as it lies in the manifest. `text` points into the manifest and
// is not aligned for UTF-16 access when an earlier entry had an odd length.
struct ManifestEntry {
  uint32_t id;          // also the id of the file record that holds the entry's file
  uint32_t byteLength;  // text bytes, the writer's terminating NUL included
  const uint8_t* text;
};

// Reads the entry at *offset of the `size` bytes at `manifest` and advances
// *offset past it. False, with *offset unchanged, when the header or the text
// would reach past the end (the manifest is cut there).
bool ReadManifestEntry(const uint8_t* manifest, uint32_t size, uint32_t* offset, ManifestEntry* entry);

// Called for every entry with the index of its payload in the list, its id
// and its text converted to the ANSI code page and zero-terminated; the text
// lives only during the call. Returns non-zero to go on, 0 to stop the walk.
using ManifestEntryVisitor = int32_t (*)(uint32_t payloadIndex, uint32_t entryId, const char* text,
                                         void* context);

// Where a walk that did not complete ended.
struct ManifestWalkStop {
  uint32_t payloadIndex;  // the payload whose manifest the walk was in
  uint32_t noMemory;      // non-zero: a text could not be converted; 0: an entry was cut
};

// Hands every entry of every payload of `payloads` to `visitor`, payloads in
// list order and entries in manifest order, passing `context` through.
// Returns false when an entry was cut or a text could not be converted for
// lack of memory; the walk then ends there, in this and every later payload,
// and `stop`, when given, says where and why (it is not written otherwise).
// A stop requested by the visitor still returns true.
bool ForEachManifestEntry(const PayloadList* payloads, ManifestEntryVisitor visitor, void* context,
                          ManifestWalkStop* stop = nullptr);
