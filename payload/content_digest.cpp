#include "payload/content_digest.h"

// The launcher links the static libcrypto whose one-shot SHA256 verifies
// records; its streaming calls, which OpenSSL 3 only marks deprecated, keep
// their state on the stack where EVP would allocate.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

static_assert(kContentDigestSize == SHA256_DIGEST_LENGTH, "the digest is SHA-256's");

void DigestBytes(const uint8_t* data, uint32_t size, uint8_t digest[kContentDigestSize]) {
  SHA256(data, size, digest);
}

bool DigestPieces(DigestPieceReader read, void* context, uint8_t* buffer, uint32_t bufferSize,
                  uint8_t digest[kContentDigestSize]) {
  SHA256_CTX state;
  SHA256_Init(&state);
  for (;;) {
    uint32_t got = 0;
    if (!read(context, buffer, bufferSize, &got)) return false;
    if (got == 0) break;
    SHA256_Update(&state, buffer, got < bufferSize ? got : bufferSize);
  }
  SHA256_Final(digest, &state);
  return true;
}
