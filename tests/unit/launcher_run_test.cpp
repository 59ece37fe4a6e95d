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

TEST(DecideErrorBoxTest, OneTextPerReportAndNoneWhenQuietOrSilent) {
  static LauncherState state;
  BeginRun(&state);
  EXPECT_EQ(state.report.pair.code, 11u);
  EXPECT_EQ(state.report.pair.line, 1942u);
  EXPECT_EQ(state.report.box, BoxText::Generic);
  const struct {
    ErrorPair pair;
    BoxText box;
    const char16_t* commandLine;
    bool loaded;       // strings 100 and 101 could be loaded
    const char* text;  // null: no box
  } cases[] = {
      {{1921, 2406}, BoxText::Generic, u"setup.exe", true, "Error 1921 (1, 1921, 2406)."},
      {{1155, 2161}, BoxText::InstallerRequired, u"setup.exe", true, "chosen 100"},
      {{13, 2151}, BoxText::CorruptOrUnsupported, u"setup.exe", true, "chosen 101"},
      {{13, 2151}, BoxText::CorruptOrUnsupported, u"setup.exe", false, "Error 13 (1, 13, 2151)."},
      {{1223, 2219}, BoxText::None, u"setup.exe", true, nullptr},
      {{13, 2151}, BoxText::CorruptOrUnsupported, u"setup.exe /QN", true, nullptr},
      {{0, 2349}, BoxText::Generic, u"setup.exe", true, nullptr},
  };
  for (const auto& c : cases) {
    BeginRun(&state);
    state.report.pair = c.pair;
    state.report.box = c.box;
    std::strcpy(state.string100, c.loaded ? "chosen 100" : "");
    std::strcpy(state.string101, c.loaded ? "chosen 101" : "");
    state.arguments = SplitCommandLine(c.commandLine, &state.argumentCount);
    const bool shown = DecideErrorBox(&state);
    EXPECT_EQ(shown, c.text != nullptr) << c.pair.code << ", " << c.pair.line;
    if (c.text) {
      EXPECT_STREQ(state.messageText, c.text);
    }
    EndRun(&state);
  }
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
