// The SHA-256 digest of a file's content: the one record verification
// computes over the decoded bytes (ReadRecord hands it out), and the same
// over bytes read piece by piece, to confirm a file on disk without loading
// it whole.
#pragma once

#include <cstdint>

constexpr uint32_t kContentDigestSize = 32;  // SHA-256

// The SHA-256 of `size` bytes at `data` into `digest`.
void DigestBytes(const uint8_t* data, uint32_t size, uint8_t digest[kContentDigestSize]);

// Fills `buffer` (`size` bytes) with the next piece; *got 0 at the end.
// False when the read fails.
using DigestPieceReader = bool (*)(void* context, uint8_t* buffer, uint32_t size, uint32_t* got);

// Reads pieces through `read` into `buffer` (`bufferSize` bytes) until one
// comes back empty, and puts the SHA-256 of all of them into `digest`. False
// when a read failed; `digest` is then not to be used. Allocates nothing.
bool DigestPieces(DigestPieceReader read, void* context, uint8_t* buffer, uint32_t bufferSize,
                  uint8_t digest[kContentDigestSize]);
