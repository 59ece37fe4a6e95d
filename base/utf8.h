// UTF-8 decoding, one code point at a time: the native defaults' "ANSI" code
// page (base/platform_posix.cpp) and the packer's manifest texts both read
// UTF-8 this way, so a name decodes alike when it is packed and when the
// launcher's tests read it back. And the one way a code point becomes
// UTF-16, for the packer's manifest texts and the stub's resources.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kUtf8Replacement = 0xFFFD;

// Decodes the code point that starts at `bytes`, of which `size` (at least
// one) may be read, and stores in `*taken` how many it used. A sequence that
// is malformed, cut by the end, overlong, a surrogate or past U+10FFFF
// decodes as U+FFFD and takes its first byte only, as MultiByteToWideChar
// does, so decoding goes on with the next byte.
inline uint32_t DecodeUtf8(const uint8_t* bytes, size_t size, size_t* taken) {
  uint32_t c = bytes[0];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n > 1) {
    if (n > size) n = 0;
    c &= 0x7Fu >> n;
    for (size_t k = 1; k < n; ++k) {
      if ((bytes[k] & 0xC0) != 0x80) { n = 0; break; }
      c = (c << 6) | (bytes[k] & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};  // shorter is overlong
    if (n != 0 && (c < kSmallest[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) n = 0;
  }
  if (n == 0) { c = kUtf8Replacement; n = 1; }
  *taken = n;
  return c;
}

// Stores code point `c` (as DecodeUtf8 gives it: at most U+10FFFF, no
// surrogate) as UTF-16 in `units` and returns how many it took: one, or two
// for a surrogate pair.
inline size_t EncodeUtf16(uint32_t c, uint16_t units[2]) {
  if (c < 0x10000) {
    units[0] = static_cast<uint16_t>(c);
    return 1;
  }
  c -= 0x10000;
  units[0] = static_cast<uint16_t>(0xD800 | (c >> 10));
  units[1] = static_cast<uint16_t>(0xDC00 | (c & 0x3FF));
  return 2;
}
