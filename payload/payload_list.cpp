#include "payload/payload_list.h"

#include "base/platform.h"

bool AppendPayload(PayloadList* list, const PayloadItem& item) {
  // The list stays far below 2^32 / sizeof(PayloadItem) items (one per
  // certificate extension of one file), but an overflowing size must not
  // become a small allocation.
  const uint64_t newSize = (static_cast<uint64_t>(list->count) + 1) * sizeof(PayloadItem);
  if (newSize > UINT32_MAX) {
    platform::SetLastErrorCode(ErrorCode::NotEnoughMemory);
    return false;
  }
  const uint32_t size = static_cast<uint32_t>(newSize);
  void* grown = list->items ? platform::GrowBlock(list->items, size, kBlockZeroed)
                            : platform::AllocBlock(size, kBlockZeroed);
  if (!grown) return false;  // the old array, if any, is still valid and still ours
  list->items = static_cast<PayloadItem*>(grown);
  list->items[list->count] = item;
  ++list->count;
  return true;
}

void SetPayloadListKey(PayloadList* list, const PayloadKey* key) {
  list->hasKey = key != nullptr;
  list->key = key ? *key : PayloadKey{};
}

const PayloadKey* PayloadListKey(const PayloadList& list) { return list.hasKey ? &list.key : nullptr; }

void ReleasePayloadList(PayloadList* list) {
  for (uint32_t i = 0; i < list->count; ++i) {
    PayloadItem& item = list->items[i];
    if (item.raw) platform::FreeBlock(item.raw);
    if (item.manifest) platform::FreeBlock(item.manifest);
  }
  if (list->items) platform::FreeBlock(list->items);
  list->items = nullptr;
  list->count = 0;
}
