#include "payload/payload_key.h"

#include <cstring>

static void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void AssemblePublicKeyBlob(const uint8_t modulus[256], uint8_t blob[kPublicKeyBlobSize]) {
  blob[0] = 6;  // PUBLICKEYBLOB
  blob[1] = 2;  // version
  blob[2] = blob[3] = 0;
  PutU32(blob + 4, 0xA400);      // CALG_RSA_KEYX
  PutU32(blob + 8, 0x31415352);  // "RSA1"
  PutU32(blob + 12, 2048);
  PutU32(blob + 16, 65537);
  std::memcpy(blob + 20, modulus, 256);
}
