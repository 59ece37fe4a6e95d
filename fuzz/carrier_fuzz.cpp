// Arbitrary file bytes through both carriers in the launcher's order. The
// file is copied into a heap block of exactly its size so that any read
// past it (headers, certificate table, record stack) hits ASan's redzone;
// every item found must lie in a block of its own and be released cleanly.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/platform.h"
#include "payload/carriers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t fileSize = static_cast<uint32_t>(size);
  std::unique_ptr<uint8_t[]> file(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(file.get(), data, size);

  PayloadList list{};
  ErrorPair pair = ReadCertificatePayloads(file.get(), fileSize, &list);
  if (pair.code == 0 && list.count == 0) pair = ReadTailPayload(file.get(), fileSize, &list);
  for (uint32_t i = 0; i < list.count; ++i) {
    const PayloadItem& item = list.items[i];
    if (!item.raw || !item.manifest || item.flags != (PayloadFlagCompressed | PayloadFlagSigned)) std::abort();
  }
  ReleasePayloadList(&list);
  if (list.items || list.count) std::abort();
  return 0;
}
