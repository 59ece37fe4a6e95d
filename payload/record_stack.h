// The record stack: records laid end to end, each closed by a 28-byte
// trailer, read backwards from the end of a payload block.
//
//   record  = data (dataSize) | signature (signatureSize) | RecordTrailer
//   trailer = type GUID (16, Windows layout) | id u32 | signatureSize u32 | dataSize u32
#pragma once

#include <cstdint>

struct Guid16 {
  uint8_t bytes[16];  // the Windows GUID byte layout, compared as raw bytes
};

bool operator==(const Guid16& a, const Guid16& b);

// {EED5BBF7-1284-4619-918C-F0CB8EE28B55}: the payload's manifest, id 0.
extern const Guid16 ManifestRecordType;
// {A1248CD9-EF96-436B-92BF-C00BAD727E63}: one file to extract, id = entry id.
extern const Guid16 FileRecordType;

constexpr uint32_t kRecordTrailerSize = 28;

// The largest file the launcher reads: it takes its own file's size as
// GetFileSize's 32 bits, and every stack and record in it travels with u32
// sizes. A file, stack or record content of 4 GiB - 1 bytes still fits.
constexpr uint64_t kMaxLauncherFileSize = UINT32_MAX;
constexpr bool FitsLauncherFile(uint64_t size) { return size <= kMaxLauncherFileSize; }

// The trailer as decoded from its little-endian bytes.
struct RecordTrailer {
  Guid16 type;
  uint32_t id;
  uint32_t signatureSize;
  uint32_t dataSize;
};

// Decodes the 28 bytes at `bytes` (the caller has checked they exist).
RecordTrailer ReadRecordTrailer(const uint8_t* bytes);
// Encodes `trailer` into 28 bytes at `out`.
void WriteRecordTrailer(const RecordTrailer& trailer, uint8_t* out);

enum class RecordKind : uint32_t { Manifest, File };

// A record found by LocateRecord. Views point into the searched block.
struct LocatedRecord {
  RecordKind kind;
  uint32_t id;
  const uint8_t* data;
  uint32_t dataSize;
  const uint8_t* signature;
  uint32_t signatureSize;
};

// Walks the stack that ends at block + blockSize backwards to the record of
// `requestedType` and `requestedId`. Reads only inside the block, allocates
// nothing. File records that are not wanted (and file trailers whose lengths
// do not fit below them) are stepped over; the first manifest trailer, or any
// trailer of an unknown type, ends the walk. Returns false when not found.
bool LocateRecord(const uint8_t* block, uint32_t blockSize, const Guid16& requestedType,
                  uint32_t requestedId, LocatedRecord* found);
