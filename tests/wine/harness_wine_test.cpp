// The harness's own promise: a child's full 32-bit exit code reaches the
// test, directly and through run_exit_code.exe.
#include <gtest/gtest.h>

#include <string>

#include "tests/wine/wine_process.h"

namespace {

TEST(HarnessWine, FullExitCodesSurvive) {
  const std::wstring tools = ToolsDirectory();
  struct Case {
    const wchar_t* argument;
    uint32_t code;
  } cases[] = {{L"0", 0}, {L"1168", 1168}, {L"1921", 1921}, {L"0x80070057", 0x80070057u}};
  for (const Case& c : cases) {
    const std::wstring exitWith = L"\"" + tools + L"exit_with.exe\" " + c.argument;
    std::string output;
    uint32_t code = 0;
    ASSERT_TRUE(RunProgram(exitWith, &output, &code)) << output;
    EXPECT_EQ(code, c.code);

    ASSERT_TRUE(RunProgram(L"\"" + tools + L"run_exit_code.exe\" " + exitWith, &output, &code)) << output;
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(output, std::to_string(c.code) + "\n");
  }
}

TEST(HarnessWine, RunExitCodeSaysWhenItCannotRun) {
  std::string output;
  uint32_t code = 0;
  ASSERT_TRUE(RunProgram(L"\"" + ToolsDirectory() + L"run_exit_code.exe\" Z:\\no\\such\\program.exe", &output, &code));
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(output, "");
}

}  // namespace
