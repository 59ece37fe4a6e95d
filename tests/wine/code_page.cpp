#include "tests/wine/code_page.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// CTest's SKIP_RETURN_CODE for every lane test, as wine-run's own "cannot
// run here".
constexpr int kSkipped = 77;

// The program's end comes after every listener has printed its summary and
// written its report: a program whose tests passed, but one of which could
// not run in its code page, ends as skipped.
class EndAsSkipped : public testing::EmptyTestEventListener {
  void OnTestProgramEnd(const testing::UnitTest& unit) override {
    if (!unit.Passed()) return;
    std::fflush(stdout);
    std::exit(kSkipped);
  }
};

}  // namespace

void EndProgramAsSkipped() {
  static bool appended = false;
  if (!appended) testing::UnitTest::GetInstance()->listeners().Append(new EndAsSkipped);
  appended = true;
}

bool HasCodePage(UINT codePage) {
  if (GetACP() == codePage) return true;
  EndProgramAsSkipped();
  return false;
}
