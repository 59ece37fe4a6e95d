// The packer's record compressor: zlib-format streams made with libdeflate,
// whole-buffer compression that is both faster and tighter than zlib's own
// at the levels the packer uses. The launcher inflates them with plain zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The level the packer uses unless told otherwise (libdeflate: 1..12).
// Measured by bench/pack_bench on an MSI-like mix: level 3 is about twice
// as fast as zlib level 9 and still a little smaller; from level 10 up
// libdeflate's slower parsers cost more time than zlib 9 for under 2% size.
constexpr int kDefaultDeflateLevel = 3;

// Compresses `size` bytes at `data` into one zlib stream (RFC 1950 wrapper,
// 32 KiB window, no preset dictionary) in *out, replacing its contents. A
// RecordCompressor (packer/payload_writer.h). False only when the
// compressor cannot be made (no memory or a level out of range): *out is
// then empty and *error says "cannot compress at level N".
bool CompressZlibStream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out, std::string* error);
