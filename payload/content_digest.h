// The SHA-256 digest of a record's decoded content, the one its signature
// is verified against.
#pragma once

#include <cstdint>

constexpr uint32_t kContentDigestSize = 32;  // SHA-256

// The SHA-256 of `size` bytes at `data` into `digest`.
void DigestBytes(const uint8_t* data, uint32_t size, uint8_t digest[kContentDigestSize]);
