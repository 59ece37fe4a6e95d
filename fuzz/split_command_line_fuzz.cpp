// The input's bytes as UTF-16 units of a command line. The split must agree
// with a plain model of the rules, never let a quote into an argument, and
// stay inside the block it allocates: (L + 2) / 2 + 1 pointers, then L + 2
// units of text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "base/platform.h"

namespace {

bool IsSeparator(char16_t u) { return u == 9 || u == 10 || u == 13 || u == 32; }

std::vector<std::u16string> Model(const char16_t* line) {
  std::vector<std::u16string> arguments;
  bool inQuotes = false, atBoundary = true;
  for (const char16_t* p = line; *p; ++p) {
    if (inQuotes) {
      if (*p == u'"') inQuotes = false;
      else arguments.back() += *p;
    } else if (IsSeparator(*p)) {
      atBoundary = true;
    } else {
      if (atBoundary) arguments.emplace_back();
      atBoundary = false;
      if (*p == u'"') inQuotes = true;
      else arguments.back() += *p;
    }
  }
  return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t units = size / 2;
  std::vector<char16_t> line(units + 1, 0);
  for (size_t i = 0; i < units; ++i) line[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  size_t length = 0;
  while (line[length]) ++length;

  int32_t count = -7;
  char16_t** arguments = SplitCommandLine(line.data(), &count);
  if (!arguments) return 0;
  const size_t capacity = (length + 2) / 2 + 1;
  if (count < 0 || static_cast<size_t>(count) + 1 > capacity || arguments[count] != nullptr) std::abort();

  const char16_t* area = reinterpret_cast<const char16_t*>(arguments + capacity);
  const char16_t* areaEnd = area + length + 2;
  const std::vector<std::u16string> expected = Model(line.data());
  if (expected.size() != static_cast<size_t>(count)) std::abort();
  const char16_t* previousEnd = area;
  for (int32_t i = 0; i < count; ++i) {
    const char16_t* argument = arguments[i];
    if (argument < previousEnd || argument >= areaEnd) std::abort();
    size_t n = 0;
    while (argument + n < areaEnd && argument[n]) {
      if (argument[n] == u'"') std::abort();
      ++n;
    }
    if (argument + n >= areaEnd) std::abort();  // the terminator lies inside the area
    if (std::u16string(argument, n) != expected[i]) std::abort();
    previousEnd = argument + n + 1;
  }
  platform::FreeBlock(arguments);
  return 0;
}
