#include "payload/payload_key.h"

#include <cstring>

bool ReadKeySlot(ByteView bytes, KeySlot* slot) {
  ByteView modulus;
  if (!U32(bytes, kKeySlotVersionAt, &slot->version) || !U32(bytes, kKeySlotStateAt, &slot->state) ||
      !Sub(bytes, kKeySlotModulusAt, sizeof slot->modulus, &modulus))
    return false;
  std::memcpy(slot->modulus, modulus.data, sizeof slot->modulus);
  return slot->version == kKeySlotVersion && (slot->state == kKeySlotEmpty || slot->state == kKeySlotStamped);
}

const uint8_t* LoadBuiltInKey(uint8_t modulus[256]) {
  // Volatile reads: the slot's initializer is the build's, its bytes in the
  // file are whatever the packer stamped since; only a read of the image
  // itself sees the latter, whatever the optimiser knows.
  const volatile uint8_t* image = kPayloadKeySlot;
  uint8_t bytes[kKeySlotSize];
  for (uint32_t i = 0; i < kKeySlotSize; ++i) bytes[i] = image[i];
  KeySlot slot;
  if (!ReadKeySlot(ByteView{bytes, sizeof bytes}, &slot) || slot.state != kKeySlotStamped) return nullptr;
  std::memcpy(modulus, slot.modulus, sizeof slot.modulus);
  return modulus;
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
