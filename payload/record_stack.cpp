#include "payload/record_stack.h"

#include <cstring>

const Guid16 ManifestRecordType = {{0xF7, 0xBB, 0xD5, 0xEE, 0x84, 0x12, 0x19, 0x46, 0x91, 0x8C,
                                    0xF0, 0xCB, 0x8E, 0xE2, 0x8B, 0x55}};
const Guid16 FileRecordType = {{0xD9, 0x8C, 0x24, 0xA1, 0x96, 0xEF, 0x6B, 0x43, 0x92, 0xBF, 0xC0,
                                0x0B, 0xAD, 0x72, 0x7E, 0x63}};

bool operator==(const Guid16& a, const Guid16& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

static uint32_t ReadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

static void WriteU32(uint32_t value, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

RecordTrailer ReadRecordTrailer(const uint8_t* bytes) {
  RecordTrailer trailer;
  std::memcpy(trailer.type.bytes, bytes, 16);
  trailer.id = ReadU32(bytes + 16);
  trailer.signatureSize = ReadU32(bytes + 20);
  trailer.dataSize = ReadU32(bytes + 24);
  return trailer;
}

void WriteRecordTrailer(const RecordTrailer& trailer, uint8_t* out) {
  std::memcpy(out, trailer.type.bytes, 16);
  WriteU32(trailer.id, out + 16);
  WriteU32(trailer.signatureSize, out + 20);
  WriteU32(trailer.dataSize, out + 24);
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
