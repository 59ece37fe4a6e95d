#include "payload/payload_key.h"

#include <cstring>

uint32_t KeySlotSizeOf(uint32_t version) {
  if (version == kKeySlotVersion1) return kKeySlotVersion1Size;
  return version == kKeySlotVersion ? kKeySlotSize : 0;
}

bool ReadKeySlot(ByteView bytes, KeySlot* slot) {
  ByteView whole, modulus;
  if (!U32(bytes, kKeySlotVersionAt, &slot->version) || KeySlotSizeOf(slot->version) == 0 ||
      !Sub(bytes, 0, KeySlotSizeOf(slot->version), &whole) || !U32(whole, kKeySlotStateAt, &slot->state) ||
      !Sub(whole, kKeySlotModulusAt, sizeof slot->key.modulus, &modulus))
    return false;
  std::memcpy(slot->key.modulus, modulus.data, sizeof slot->key.modulus);
  std::memset(slot->key.bindings, 0, sizeof slot->key.bindings);
  slot->key.bindingCount = 0;
  if (slot->version == kKeySlotVersion) {
    ByteView digests;
    // A count past the capacity would have the launcher read digests that
    // are not there; such a slot is no slot.
    if (!U32(whole, kKeySlotBindingCountAt, &slot->key.bindingCount) ||
        slot->key.bindingCount > kKeySlotBindingCapacity ||
        !Sub(whole, kKeySlotBindingsAt, slot->key.bindingCount * uint64_t{kContentDigestSize}, &digests))
      return false;
    if (digests.size) std::memcpy(slot->key.bindings, digests.data, digests.size);
  }
  return slot->state == kKeySlotEmpty || slot->state == kKeySlotStamped;
}

bool BindsManifest(const PayloadKey& key, const uint8_t digest[kContentDigestSize]) {
  if (key.bindingCount == 0) return true;
  for (uint32_t i = 0; i < key.bindingCount && i < kKeySlotBindingCapacity; ++i)
    if (std::memcmp(key.bindings[i], digest, kContentDigestSize) == 0) return true;
  return false;
}

const PayloadKey* LoadBuiltInKey(PayloadKey* key) {
  // Volatile reads: the slot's initializer is the build's, its bytes in the
  // file are whatever the packer stamped since; only a read of the image
  // itself sees the latter, whatever the optimiser knows.
  const volatile uint8_t* image = kPayloadKeySlot;
  uint8_t bytes[kKeySlotSize];
  for (uint32_t i = 0; i < kKeySlotSize; ++i) bytes[i] = image[i];
  KeySlot slot;
  if (!ReadKeySlot(ByteView{bytes, sizeof bytes}, &slot) || slot.state != kKeySlotStamped) return nullptr;
  *key = slot.key;
  return key;
}

void AssemblePublicKeyBlob(const uint8_t modulus[256], uint8_t blob[kPublicKeyBlobSize]) {
  blob[0] = 6;  // PUBLICKEYBLOB
  blob[1] = 2;  // version
  blob[2] = blob[3] = 0;
  // Fixed offsets inside the blob: these stores cannot fail.
  const MutableByteView view{blob, kPublicKeyBlobSize};
  PutU32(view, 4, 0xA400);      // CALG_RSA_KEYX
  PutU32(view, 8, 0x31415352);  // "RSA1"
  PutU32(view, 12, 2048);
  PutU32(view, 16, 65537);
  std::memcpy(blob + 20, modulus, 256);
}
