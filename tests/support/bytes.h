// Bytes built by hand for tests and fuzz targets: little-endian fields and
// UTF-16LE text, as the payload formats store them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// `text` as UTF-16LE units, with one NUL unit after it when `terminate`.
inline std::vector<uint8_t> Utf16(const std::u16string& text, bool terminate = false) {
  std::vector<uint8_t> out;
  for (char16_t unit : text) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}
