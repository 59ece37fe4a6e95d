// The text of an error code, as the error boxes show it.
#pragma once

#include <cstdint>

// Fills `buffer` (`size` bytes) with the system's message for `code`, its
// trailing periods, spaces and line breaks trimmed, followed by " (insert)."
// or "." ; without a system text, "Error <code>" (+ " (insert)."). A system
// text that holds an insert sequence ('%' and a digit) counts as no text.
// `insert` may be null or empty. The result is always zero-terminated inside the
// buffer: when the system text plus the added part does not fit, the added
// part is cut at the end of the buffer.
void FormatErrorText(uint32_t code, char* buffer, uint32_t size, const char* insert);
