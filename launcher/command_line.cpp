#include "launcher/command_line.h"

#include "base/platform.h"

namespace {

bool IsSeparator(char16_t unit) {
  // Vertical tab and form feed are ordinary characters here.
  return unit == 9 || unit == 10 || unit == 13 || unit == 32;
}

}  // namespace

char16_t** SplitCommandLine(const char16_t* commandLine, int32_t* count) {
  uint32_t length = 0;
  while (commandLine[length] != 0) ++length;

  // Every argument costs at least one input unit plus a separator, so
  // (L + 2) / 2 argument pointers and the null pointer always suffice, and the
  // text never needs more than one unit per input unit plus a terminator.
  const uint64_t pointerCount = (static_cast<uint64_t>(length) + 2) / 2 + 1;
  const uint64_t bytes = pointerCount * sizeof(char16_t*) + (static_cast<uint64_t>(length) + 2) * sizeof(char16_t);
  if (bytes > UINT32_MAX) return nullptr;
  auto** arguments = static_cast<char16_t**>(platform::AllocBlock(static_cast<uint32_t>(bytes), 0));
  if (!arguments) return nullptr;
  auto* text = reinterpret_cast<char16_t*>(arguments + pointerCount);

  bool inQuotes = false, inArgument = false, atBoundary = true;
  int32_t found = 0;
  uint32_t write = 0;
  for (const char16_t* p = commandLine; *p != 0; ++p) {
    const char16_t unit = *p;
    if (inQuotes) {
      if (unit == u'"')
        inQuotes = false;
      else
        text[write++] = unit;
      continue;
    }
    if (IsSeparator(unit)) {
      if (inArgument) text[write++] = 0;
      inArgument = false;
      atBoundary = true;
    } else if (unit == u'"') {
      inQuotes = inArgument = true;
      if (atBoundary) arguments[found++] = text + write;
      atBoundary = false;
    } else {
      inArgument = true;
      if (atBoundary) arguments[found++] = text + write;
      text[write++] = unit;
      atBoundary = false;
    }
  }
  text[write] = 0;
  arguments[found] = nullptr;
  *count = found;
  return arguments;
}

char* GetOwnModulePath() {
  uint32_t capacity = 260;
  char* path = nullptr;
  for (;;) {
    // One byte more than we admit to, so the block always outgrows the path.
    char* grown = static_cast<char*>(path ? platform::GrowBlock(path, capacity + 1, 0)
                                          : platform::AllocBlock(capacity + 1, 0));
    if (!grown) {
      if (path) platform::FreeBlock(path);
      return nullptr;
    }
    path = grown;
    const uint32_t stored = platform::ModuleFileName(path, capacity);
    if (stored == 0) {
      platform::FreeBlock(path);
      return nullptr;
    }
    if (stored < capacity) return path;
    capacity += 64;  // the name may have been cut: try again with more room
  }
}
