#include "launcher/launcher_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "base/platform.h"
#include "tests/support/fault_injection.h"
#include "tests/support/payloads.h"

namespace {

bool Quiet(const std::u16string& commandLine) {
  int32_t count = 0;
  char16_t** arguments = SplitCommandLine(commandLine.c_str(), &count);
  const bool quiet = HasQuietSwitch(arguments, count);
  platform::FreeBlock(arguments);
  return quiet;
}

TEST(HasQuietSwitchTest, OnlyTheThreeSwitchesFromArgumentOneOn) {
  const struct {
    const char16_t* line;
    bool quiet;
  } cases[] = {
      {u"setup.exe", false},
      {u"/q", false},  // argument 0 is the program, never a switch
      {u"setup.exe /q", true},
      {u"setup.exe /qn", true},
      {u"setup.exe /quiet", true},
      {u"setup.exe /QUIET", true},
      {u"setup.exe /Qn", true},
      {u"setup.exe \"/q\"", true},  // quotes never reach the argument
      {u"setup.exe -q", false},
      {u"setup.exe /qb", false},
      {u"setup.exe /qn+", false},
      {u"setup.exe /quiet:yes", false},
      {u"setup.exe /quie", false},
      {u"setup.exe q", false},
      {u"setup.exe REBOOT=R /passive /qn", true},
      {u"setup.exe /q\u0130", false},  // a non-ASCII letter never folds
  };
  for (const auto& c : cases) EXPECT_EQ(Quiet(c.line), c.quiet) << std::string(c.line, c.line + std::char_traits<char16_t>::length(c.line));
}

TEST(ComposeErrorTextTest, GenericTextCarriesOneCodeAndLine) {
  static LauncherState state;
  BeginRun(&state);
  EXPECT_EQ(state.result.code, 11u);
  EXPECT_EQ(state.result.line, 1942u);
  state.result = ErrorPair{1921, 2406};
  ComposeErrorText(&state);
  EXPECT_STREQ(state.messageText, "Error 1921 (1, 1921, 2406).");

  // A message chosen by the failing site is kept as it is.
  BeginRun(&state);
  state.result = ErrorPair{13, 2151};
  std::strcpy(state.messageText, "chosen");
  ComposeErrorText(&state);
  EXPECT_STREQ(state.messageText, "chosen");
}

TEST(EndRunTest, ReleasesEveryBlockStartUpHandedOut) {
  const ByteVector file = WithTail(MinimalPe32(), BuildTestPayload(TypicalPayloadSpec()));
  ScopedPlatformReset counting;
  static LauncherState state;
  BeginRun(&state);
  int32_t count = 0;
  state.arguments = SplitCommandLine(u"setup.exe /qn REBOOT=R", &count);
  state.argumentCount = count;
  state.ownPath = GetOwnModulePath();
  ASSERT_NE(state.arguments, nullptr);
  ASSERT_NE(state.ownPath, nullptr);
  ASSERT_EQ(LoadPayloads(file.data(), static_cast<uint32_t>(file.size()), &state.context.payloads).code, 0u);
  ASSERT_EQ(state.context.payloads.count, 1u);
  ASSERT_EQ(OutstandingBlocks(), 5);  // arguments, own path, the list, the payload's raw and manifest

  EndRun(&state);
  EXPECT_EQ(OutstandingBlocks(), 0);
  EXPECT_EQ(state.arguments, nullptr);
  EXPECT_EQ(state.argumentCount, 0);
  EXPECT_EQ(state.ownPath, nullptr);
  EXPECT_EQ(state.context.payloads.items, nullptr);
  EXPECT_EQ(state.context.payloads.count, 0u);
}

}  // namespace
