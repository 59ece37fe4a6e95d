// The msiexec command line from arbitrary arguments, paths and buffer sizes.
// The line lives in a heap block of exactly the size given, so a write past
// it hits ASan's redzone. A line that is built must be terminated inside the
// block; one that is refused must leave the block all zero.
//
// Input: two control bytes (buffer size), then the msiexec path and the
// package path as 0-separated bytes, then the arguments as UTF-16 units
// separated by a 0 unit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "handoff/msiexec_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t lineSize = 1 + ((static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % 2048);
  data += 2;
  size -= 2;

  std::string paths[2];
  size_t at = 0;
  for (int which = 0; which < 2 && at < size; ++at) {
    if (data[at] == 0)
      ++which;
    else
      paths[which] += static_cast<char>(data[at]);
  }
  std::vector<std::u16string> texts(1, u"setup.exe");
  texts.emplace_back();
  for (; at + 1 < size; at += 2) {
    const char16_t unit = static_cast<char16_t>(data[at] | data[at + 1] << 8);
    if (unit == 0)
      texts.emplace_back();
    else
      texts.back() += unit;
  }
  std::vector<char16_t*> arguments;
  for (std::u16string& text : texts) arguments.push_back(&text[0]);
  arguments.push_back(nullptr);

  std::vector<char> line(lineSize, 'x');
  const ErrorPair pair = BuildMsiexecCommandLine(paths[0].c_str(), paths[1].c_str(), arguments.data(),
                                                 static_cast<int32_t>(texts.size()), line.data(), lineSize);
  if (pair.code == 0) {
    if (std::memchr(line.data(), 0, lineSize) == nullptr) std::abort();
  } else {
    for (char c : line)
      if (c != 0) std::abort();
  }
  return 0;
}
