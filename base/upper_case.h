// Upper case for the native defaults' name comparison (base/platform_posix.cpp),
// from a table built in: a static packer has no locale files to load.
#pragma once

#include <cstddef>
#include <cstdint>

struct UpperCaseRun {
  uint16_t first;
  uint16_t last;
  uint8_t stride;  // 1: every code point of the run maps; 2: every other one
  int32_t offset;  // what is added to map it
};

extern const UpperCaseRun kUpperCaseRuns[];
extern const size_t kUpperCaseRunCount;

// `unit` in upper case by Unicode's simple mapping; itself when it has none.
char16_t SimpleUpperCase(char16_t unit);
