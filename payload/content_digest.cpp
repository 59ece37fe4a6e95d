#include "payload/content_digest.h"

// The launcher links the static libcrypto whose one-shot SHA256 (which
// OpenSSL 3 only marks deprecated) verifies records without the allocations
// of EVP.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

static_assert(kContentDigestSize == SHA256_DIGEST_LENGTH, "the digest is SHA-256's");

void DigestBytes(const uint8_t* data, uint32_t size, uint8_t digest[kContentDigestSize]) {
  SHA256(data, size, digest);
}
