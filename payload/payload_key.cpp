#include "payload/payload_key.h"

#include <cstring>

#include "base/byte_view.h"

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
