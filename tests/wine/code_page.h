// Tests written for one ANSI code page. Wine takes the code page from the
// locale in LC_ALL, which each lane test's entry sets (tests/wine/
// CMakeLists.txt); where that locale is missing, Wine quietly takes another
// one, and such a test cannot run. It skips, and its program then ends with
// 77, which CTest reports as a skip rather than a pass:
//
//   if (!HasCodePage(932)) GTEST_SKIP() << "needs code page 932, not " << GetACP();
#pragma once

#include <windows.h>

// True when the process's ANSI code page is `codePage`. When it is not, the
// program's exit code becomes 77 should all its tests pass.
bool HasCodePage(UINT codePage);

// Makes the program's exit code 77 should all its tests pass: for a test
// that skips because this Wine cannot show what it checks. Give such a test
// a CTest entry of its own, so that the skip hides no other test's pass.
void EndProgramAsSkipped();
