#include "packer/msi/code_pages.h"

#include <cstdio>

#include "base/utf8.h"

namespace {

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string HexByte(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

}  // namespace

bool ConvertCodePageToUtf8(uint32_t codePage, ByteView text, std::string* utf8, std::string* reason) {
  utf8->clear();
  bool ascii = true;
  for (size_t i = 0; i < text.size; ++i) ascii = ascii && text.data[i] < 0x80;
  if (ascii) {
    utf8->assign(reinterpret_cast<const char*>(text.data), text.size);
    return true;
  }
  if (codePage == kCodePageUtf8) {
    // Windows would put U+FFFD for each malformed sequence; a name that
    // needed it is damaged, so it is refused rather than passed on changed.
    for (size_t i = 0, taken = 0; i < text.size; i += taken) {
      if (DecodeUtf8(text.data + i, text.size - i, &taken) == kUtf8Replacement) {
        *reason = "malformed UTF-8 at byte " + std::to_string(i) + " in code page 65001 text";
        return false;
      }
    }
    utf8->assign(reinterpret_cast<const char*>(text.data), text.size);
    return true;
  }
  const uint32_t table = codePage == 0 ? 1252 : codePage;
  if (table < 1250 || table > 1258) {
    *reason = "code page " + std::to_string(codePage) + " is not supported for text that is not ASCII";
    return false;
  }
  for (size_t i = 0; i < text.size; ++i) {
    const uint8_t b = text.data[i];
    const uint32_t c = b < 0x80 ? b : kWindowsCodePageHighHalves[table - 1250][b - 0x80];
    if (c == 0 && b != 0) {
      *reason = "byte " + HexByte(b) + " has no character in code page " + std::to_string(table);
      return false;
    }
    AppendUtf8(c, utf8);
  }
  return true;
}
