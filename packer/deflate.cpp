#include "packer/deflate.h"

#include <libdeflate.h>

bool CompressZlibStream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out) {
  out->clear();
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  if (compressor == nullptr) return false;
  // The bound holds for any input, so the call below cannot run out of room;
  // a zero result would mean a broken bound, reported as failure all the same.
  out->resize(libdeflate_zlib_compress_bound(compressor, size));
  size_t written = libdeflate_zlib_compress(compressor, data, size, out->data(), out->size());
  libdeflate_free_compressor(compressor);
  if (written == 0) {
    out->clear();
    return false;
  }
  out->resize(written);
  return true;
}
