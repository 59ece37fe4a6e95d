#include "ui/folder_path.h"

#include <cstring>

#include "base/bounded_text.h"

bool AppendPathPart(char* path, size_t size, const char* part) {
  const void* end = std::memchr(path, '\0', size);
  if (!end) return false;
  const size_t before = static_cast<size_t>(static_cast<const char*>(end) - path);
  size_t length = before;
  if (AppendFormat(path, size, &length, "\\%s", part)) return true;
  path[before] = '\0';
  return false;
}

bool JoinPath(char* dest, size_t size, const char* folder, const char* name) {
  size_t length = 0;
  if (AppendFormat(dest, size, &length, "%s\\%s", folder, name)) return true;
  if (size > 0) dest[0] = '\0';
  return false;
}

bool IsAbsoluteFolderPath(const char* text) {
  const char first = text[0];
  const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  if (letter && text[1] == ':' && (text[2] == '\0' || text[2] == '\\')) return true;
  // A lead byte of a double-byte character is never '\\', and the first byte
  // of a text is never a trail byte, so these bytes are what they look like.
  return first == '\\' && text[1] == '\\' && text[2] != '\0' && text[2] != '\\';
}
