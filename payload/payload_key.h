// The built-in public key that every signed record is verified against.
#pragma once

#include <cstdint>

// The modulus of the built-in RSA-2048 key, least significant byte first.
// Generated at build time from MSILAUNCH_PUBLIC_KEY.
extern const uint8_t kPayloadKeyModulus[256];

constexpr uint32_t kPublicKeyBlobSize = 276;

// A PUBLICKEYBLOB (BLOBHEADER + RSAPUBKEY "RSA1", 2048 bits, exponent 65537,
// modulus least significant byte first) for the given modulus.
void AssemblePublicKeyBlob(const uint8_t modulus[256], uint8_t blob[kPublicKeyBlobSize]);
