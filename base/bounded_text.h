// Bounded formatting into fixed buffers. Every formatted write of the
// launcher goes through here, so that a text that does not fit is a decision
// of the caller (refuse or shorten), never a write past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// Formats at buffer + *length with the room left in `size` bytes and advances
// *length by the characters stored. The buffer stays zero-terminated inside
// `size` bytes. Returns false when the text did not fit; it is then cut at
// the end of the buffer (callers that must refuse restore buffer[old length]).
bool AppendFormat(char* buffer, size_t size, size_t* length, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Copies `text` into `buffer` (`size` bytes), cut to fit and zero-terminated.
// Returns false when it had to be cut.
bool CopyText(char* buffer, size_t size, const char* text);

// 'A'..'Z' as 'a'..'z', every other byte as it is: the one case folding of
// names that must not depend on a locale or code page.
char LowerAscii(char c);

// Case-insensitive comparison of ASCII letters only (other bytes compare
// as they are). True when the two strings are equal.
bool EqualsIgnoringAsciiCase(const char* a, const char* b);
bool EqualsIgnoringAsciiCase(const char16_t* a, const char* b);
