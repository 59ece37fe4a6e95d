#include "base/error_text.h"

#include <cstddef>

#include "base/bounded_text.h"
#include "base/platform.h"

namespace {

// True when the text holds an insert sequence ("%1" ... "%99"). The system
// is asked to leave inserts as they are, there being no arguments to fill
// them with; such a text would show its placeholders to the user.
bool HoldsInsert(const char* text, uint32_t length) {
  for (uint32_t i = 0; i + 1 < length; ++i)
    if (text[i] == '%' && text[i + 1] >= '0' && text[i + 1] <= '9') return true;
  return false;
}

}  // namespace

void FormatErrorText(uint32_t code, char* buffer, uint32_t size, const char* insert) {
  if (size == 0) return;
  uint32_t stored = platform::SystemMessageText(code, buffer, size);
  if (stored > size) stored = size;
  if (HoldsInsert(buffer, stored)) stored = 0;  // shown as "Error N" instead

  // Trim periods, spaces and line breaks; tabs and everything else stay.
  int64_t last = static_cast<int64_t>(stored) - 1;
  while (last >= 0) {
    const char c = buffer[last];
    if (c != '.' && c != ' ' && c != '\r' && c != '\n') break;
    --last;
  }

  const bool hasInsert = insert && insert[0] != '\0';
  size_t length = 0;
  if (last < 0) {
    if (hasInsert)
      AppendFormat(buffer, size, &length, "%s %u (%s).", "Error", code, insert);
    else
      AppendFormat(buffer, size, &length, "%s %u", "Error", code);
    return;
  }
  length = static_cast<size_t>(last) + 1;
  if (length >= size) {
    // The system text filled the buffer: keep it, cut by one to terminate.
    buffer[size - 1] = '\0';
    return;
  }
  if (hasInsert)
    AppendFormat(buffer, size, &length, " (%s).", insert);
  else
    AppendFormat(buffer, size, &length, ".");
}
