// Arbitrary bytes as a payload block: every record the walk can reach is
// decoded under each combination of the payload flags, against the key the
// fuzz build embeds. Anything handed out must be released exactly once, and a
// stored record's content must be its data part.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/platform.h"
#include "payload/record_decoding.h"

namespace {

uint32_t TopmostId(const uint8_t* block, size_t size) {
  if (size < kRecordTrailerSize) return 0;
  return ReadRecordTrailer(block + size - kRecordTrailerSize).id;
}

void DecodeUnderEveryFlag(const LocatedRecord& record) {
  for (uint32_t flags = 0; flags < 4; ++flags) {
    uint8_t* content = reinterpret_cast<uint8_t*>(1);
    uint32_t size = 1;
    const ErrorPair pair = DecodeRecord(flags, record, &content, &size);
    if (pair.code != 0) {
      if (content || size) std::abort();  // a failure hands out nothing
      continue;
    }
    if (!content) std::abort();
    if (!(flags & PayloadFlagCompressed) &&
        (size != record.dataSize || (size && std::memcmp(content, record.data, size) != 0)))
      std::abort();
    platform::FreeBlock(content);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t blockSize = static_cast<uint32_t>(size);
  LocatedRecord record;
  if (LocateRecord(data, blockSize, ManifestRecordType, 0, &record)) DecodeUnderEveryFlag(record);
  if (LocateRecord(data, blockSize, FileRecordType, TopmostId(data, size), &record)) DecodeUnderEveryFlag(record);
  return 0;
}
