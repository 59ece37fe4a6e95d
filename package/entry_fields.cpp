#include "package/entry_fields.h"

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one piece [begin, end) as "%u" would. False when it holds no digits.
bool ReadPieceNumber(const char* begin, const char* end, uint32_t* value) {
  const char* p = begin;
  while (p < end && IsCSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p >= end || *p < '0' || *p > '9') return false;
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > UINT32_MAX) {
      overflow = true;
      magnitude = UINT32_MAX;  // keep the accumulator small; the digits still count as read
    }
  }
  if (overflow)
    *value = UINT32_MAX;
  else
    *value = negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
  return true;
}

}  // namespace

bool SplitEntryFields(const char* text, char* const* fields, uint32_t count) {
  const char* p = text;
  for (uint32_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (*p != '\\') return false;
      ++p;
    }
    uint32_t length = 0;
    while (p[length] != '\0' && p[length] != '\\') {
      // A field that does not fit its buffer makes the entry unusable rather
      // than silently shortened: a cut product code or file name would name
      // another folder or file than the package means.
      if (length == kManifestFieldSize - 1) return false;
      fields[i][length] = p[length];
      ++length;
    }
    if (length == 0) return false;
    fields[i][length] = '\0';
    p += length;
  }
  return true;
}

bool NextListNumber(const char** cursor, uint32_t* value) {
  const char* p = *cursor;
  while (*p != '\0') {
    const char* end = p;
    while (*end != '\0' && *end != ';') ++end;
    const bool found = ReadPieceNumber(p, end, value);
    p = *end == ';' ? end + 1 : end;
    if (found) {
      *cursor = p;
      return true;
    }
  }
  *cursor = p;
  return false;
}
