// Text in a Windows Installer database is kept in the database's code page;
// the packer works in UTF-8. Conversion is strict: text that cannot be
// converted exactly is refused with a reason, never guessed at.
#pragma once

#include <cstdint>
#include <string>

#include "base/byte_view.h"

constexpr uint32_t kCodePageUtf8 = 65001;

// The upper halves of code pages 1250-1258 (code_page_tables.cpp).
extern const uint16_t kWindowsCodePageHighHalves[9][128];

// Converts `text` from `codePage` to UTF-8 into *utf8. ASCII converts in
// every code page; otherwise 65001 (well-formed UTF-8 only), 1250-1258, and
// 0, the neutral code page, read as 1252. False with *reason set ("code page
// 932 is not supported for text that is not ASCII", "byte 0xAA has no
// character in code page 1253") otherwise.
bool ConvertCodePageToUtf8(uint32_t codePage, ByteView text, std::string* utf8, std::string* reason);
