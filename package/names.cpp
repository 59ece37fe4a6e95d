#include "package/names.h"

#include <cstddef>
#include <cstring>

#include "base/bounded_text.h"
#include "base/platform.h"

namespace {

constexpr size_t kBracedGuidLength = 38;
// UTF-16 units a name of up to 260 bytes (an item's name) can take, and the terminator.
constexpr int kNameUnits = 261;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// `length` bytes at `text` equal the upper-case ASCII `word`, letter case aside.
bool IsWord(const char* text, size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (size_t i = 0; i < length; ++i)
    if (LowerAscii(text[i]) != LowerAscii(word[i])) return false;
  return true;
}

// The digit after COM or LPT: Windows takes 0 to 9 and, in the ANSI code
// page, the superscripts 1, 2 and 3 as well.
bool IsPortDigit(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

// The system opens a device, not a file, for these whatever folder they are
// joined to; the part before the first dot decides, trailing spaces aside.
bool IsDeviceName(const char* text) {
  size_t length = 0;
  while (text[length] != '\0' && text[length] != '.') ++length;
  while (length > 0 && text[length - 1] == ' ') --length;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (IsWord(text, length, device)) return true;
  return length == 4 && (IsWord(text, 3, "COM") || IsWord(text, 3, "LPT")) && IsPortDigit(text[3]);
}

// The form of a short (8.3) name the system makes up for a longer one: a
// base of at most 8 bytes, at most one dot and 3 bytes after it, and a '~'
// in the base. How the part after the '~' is made differs between systems
// (a number, or a hash), so the tilde alone decides.
bool IsShortNameForm(const char* text, size_t length) {
  const char* dot = std::strchr(text, '.');
  const size_t base = dot ? static_cast<size_t>(dot - text) : length;
  if (base == 0 || base > 8 || (dot && (std::strchr(dot + 1, '.') || length - base - 1 > 3))) return false;
  return std::memchr(text, '~', base) != nullptr;
}

}  // namespace

bool IsBracedGuid(const char* text) {
  if (!text || std::strlen(text) != kBracedGuidLength) return false;
  if (text[0] != '{' || text[kBracedGuidLength - 1] != '}') return false;
  for (size_t i = 1; i < kBracedGuidLength - 1; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != '-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

bool IsPlainFileName(const char* text) {
  if (!text || text[0] == '\0') return false;
  const size_t length = std::strlen(text);
  if (length > kMaxPlainFileNameBytes) return false;
  // Byte by byte, not character by character: in a double-byte code page a
  // trail byte may be '\' or another refused byte, and such a name is then
  // refused too. That loses names nobody needs and never lets one through
  // that a byte-wise path routine would split.
  for (size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return false;
    if (std::strchr("\\/:*?\"<>|", byte) != nullptr) return false;
  }
  // "." and ".." end in a dot as well.
  if (text[length - 1] == '.' || text[length - 1] == ' ') return false;
  return !IsDeviceName(text) && !IsShortNameForm(text, length);
}

bool NamesFoldTogether(const char* a, const char* b) {
  char16_t wideA[kNameUnits], wideB[kNameUnits];
  // Without the terminator: it is no part of a name.
  const int unitsA = platform::AnsiToWide(a, -1, wideA, kNameUnits) - 1;
  const int unitsB = platform::AnsiToWide(b, -1, wideB, kNameUnits) - 1;
  if (unitsA < 0 || unitsB < 0) return true;
  return platform::SameNameIgnoringCase(wideA, unitsA, wideB, unitsB) != 0;
}
