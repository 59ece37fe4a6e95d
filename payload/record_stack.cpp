#include "payload/record_stack.h"

#include <cstring>

#include "base/byte_view.h"

const Guid16 ManifestRecordType = {{0xF7, 0xBB, 0xD5, 0xEE, 0x84, 0x12, 0x19, 0x46, 0x91, 0x8C,
                                    0xF0, 0xCB, 0x8E, 0xE2, 0x8B, 0x55}};
const Guid16 FileRecordType = {{0xD9, 0x8C, 0x24, 0xA1, 0x96, 0xEF, 0x6B, 0x43, 0x92, 0xBF, 0xC0,
                                0x0B, 0xAD, 0x72, 0x7E, 0x63}};

bool operator==(const Guid16& a, const Guid16& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

// Field offsets inside the trailer; each lies within its 28 bytes, so the
// view's accessors below cannot fail.
constexpr uint64_t kIdAt = 16, kSignatureSizeAt = 20, kDataSizeAt = 24;

RecordTrailer ReadRecordTrailer(const uint8_t* bytes) {
  const ByteView view{bytes, kRecordTrailerSize};
  RecordTrailer trailer{};
  std::memcpy(trailer.type.bytes, bytes, 16);
  U32(view, kIdAt, &trailer.id);
  U32(view, kSignatureSizeAt, &trailer.signatureSize);
  U32(view, kDataSizeAt, &trailer.dataSize);
  return trailer;
}

void WriteRecordTrailer(const RecordTrailer& trailer, uint8_t* out) {
  const MutableByteView view{out, kRecordTrailerSize};
  std::memcpy(out, trailer.type.bytes, 16);
  PutU32(view, kIdAt, trailer.id);
  PutU32(view, kSignatureSizeAt, trailer.signatureSize);
  PutU32(view, kDataSizeAt, trailer.dataSize);
}

bool LocateRecord(const uint8_t* block, uint32_t blockSize, const Guid16& requestedType,
                  uint32_t requestedId, LocatedRecord* found) {
  // P counts the bytes not yet consumed; it is lowered only by amounts that
  // the comparison before has shown to fit, so it never wraps.
  uint32_t p = blockSize;
  while (p >= kRecordTrailerSize) {
    p -= kRecordTrailerSize;
    const RecordTrailer trailer = ReadRecordTrailer(block + p);
    const bool isManifest = trailer.type == ManifestRecordType;
    if (!isManifest && !(trailer.type == FileRecordType)) return false;

    if (p < trailer.signatureSize) {
      if (isManifest) return false;
      continue;  // a file trailer that does not fit: try the 28 bytes below it
    }
    const uint32_t signatureAt = p - trailer.signatureSize;
    if (signatureAt < trailer.dataSize) {
      if (isManifest) return false;
      p = signatureAt;
      continue;
    }
    p = signatureAt - trailer.dataSize;

    if (trailer.type == requestedType && trailer.id == requestedId) {
      found->kind = isManifest ? RecordKind::Manifest : RecordKind::File;
      found->id = trailer.id;
      found->data = block + p;
      found->dataSize = trailer.dataSize;
      found->signature = block + signatureAt;
      found->signatureSize = trailer.signatureSize;
      return true;
    }
    if (isManifest) return false;  // the manifest record is the lowest
  }
  return false;
}
