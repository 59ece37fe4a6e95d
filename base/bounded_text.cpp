#include "base/bounded_text.h"

#include <cstdarg>
#include <cstdio>

bool AppendFormat(char* buffer, size_t size, size_t* length, const char* format, ...) {
  if (size == 0 || *length >= size) return false;
  size_t room = size - *length;
  va_list args;
  va_start(args, format);
  int wanted = vsnprintf(buffer + *length, room, format, args);
  va_end(args);
  if (wanted < 0) {
    buffer[*length] = '\0';
    return false;
  }
  if (static_cast<size_t>(wanted) >= room) {
    *length = size - 1;
    return false;
  }
  *length += static_cast<size_t>(wanted);
  return true;
}

bool CopyText(char* buffer, size_t size, const char* text) {
  if (size == 0) return false;
  size_t i = 0;
  for (; i + 1 < size && text[i]; ++i) buffer[i] = text[i];
  buffer[i] = '\0';
  return text[i] == '\0';
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (LowerAscii(*a) != LowerAscii(*b))
      return false;
    if (*a == '\0') return true;
  }
}

bool EqualsIgnoringAsciiCase(const char16_t* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned wa = *a, wb = static_cast<unsigned char>(*b);
    if (wa > 0x7F || wb > 0x7F) {
      if (wa != wb) return false;
    } else if (LowerAscii(static_cast<char>(wa)) != LowerAscii(static_cast<char>(wb))) {
      return false;
    }
    if (wa == 0) return true;
  }
}
