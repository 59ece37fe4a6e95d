// LocateRecord must never read outside its block. The input is copied into a
// heap block of exactly its size, so any overread hits ASan's redzone, and
// every view it returns is checked to lie inside the block in record order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "payload/record_stack.h"

namespace {

volatile uint8_t gSink;

void Check(const uint8_t* block, uint32_t size, const Guid16& type, uint32_t id) {
  LocatedRecord record;
  if (!LocateRecord(block, size, type, id, &record)) return;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(block), end = begin + size;
  const uintptr_t data = reinterpret_cast<uintptr_t>(record.data);
  const uintptr_t signature = reinterpret_cast<uintptr_t>(record.signature);
  if (record.id != id || data < begin || data + record.dataSize != signature ||
      signature + record.signatureSize + kRecordTrailerSize > end)
    std::abort();
  const RecordTrailer trailer = ReadRecordTrailer(record.signature + record.signatureSize);
  if (!(trailer.type == type) || trailer.dataSize != record.dataSize ||
      trailer.signatureSize != record.signatureSize)
    std::abort();
  // Touch every byte of both views so ASan vets them too.
  uint8_t sum = 0;
  for (uint32_t i = 0; i < record.dataSize; ++i) sum ^= record.data[i];
  for (uint32_t i = 0; i < record.signatureSize; ++i) sum ^= record.signature[i];
  gSink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t blockSize = static_cast<uint32_t>(size);
  std::unique_ptr<uint8_t[]> block(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(block.get(), data, size);
  // Ids the input itself suggests: the topmost trailer's and a few small ones.
  uint32_t topmostId = 0;
  if (size >= kRecordTrailerSize) topmostId = ReadRecordTrailer(block.get() + size - kRecordTrailerSize).id;
  static const Guid16 kUnknown = {{0}};
  for (const Guid16* type : {&ManifestRecordType, &FileRecordType, &kUnknown})
    for (uint32_t id : {0u, 1u, 2u, topmostId}) Check(block.get(), blockSize, *type, id);
  return 0;
}
