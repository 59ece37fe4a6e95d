#include "packer/commands/deflate.h"

#include <libdeflate.h>

bool CompressZlibStream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  size_t written = 0;
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  if (compressor != nullptr) {
    // The bound holds for any input, so the call below cannot run out of
    // room; a zero result would mean a broken bound, a failure all the same.
    out->resize(libdeflate_zlib_compress_bound(compressor, size));
    written = libdeflate_zlib_compress(compressor, data, size, out->data(), out->size());
    libdeflate_free_compressor(compressor);
  }
  out->resize(written);
  if (written == 0) *error = "cannot compress at level " + std::to_string(level);
  return written != 0;
}
