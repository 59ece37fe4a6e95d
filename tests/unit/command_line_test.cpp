#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/platform.h"
#include "tests/support/fault_injection.h"

namespace {

std::vector<std::u16string> Split(const std::u16string& line) {
  int32_t count = -7;
  char16_t** arguments = SplitCommandLine(line.c_str(), &count);
  EXPECT_NE(arguments, nullptr);
  std::vector<std::u16string> result;
  for (int32_t i = 0; i < count; ++i) result.emplace_back(arguments[i]);
  EXPECT_EQ(arguments[count], nullptr);
  platform::FreeBlock(arguments);
  return result;
}

struct SplitCase {
  const char* name;
  std::u16string line;
  std::vector<std::u16string> expected;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsByTheLauncherRules) {
  EXPECT_EQ(Split(GetParam().line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    testing::Values(
        SplitCase{"Empty", u"", {}},
        SplitCase{"OnlyWhitespace", u" \t\r\n ", {}},
        SplitCase{"Plain", u"setup.exe /qn REBOOT=R", {u"setup.exe", u"/qn", u"REBOOT=R"}},
        SplitCase{"RunsOfWhitespace", u"  a \t\t b\r\n", {u"a", u"b"}},
        SplitCase{"VerticalTabAndFormFeedAreText", u"a\vb\fc d", {u"a\vb\fc", u"d"}},
        SplitCase{"EmptyQuotes", u"a \"\" b", {u"a", u"", u"b"}},
        SplitCase{"FourQuotes", u"\"\"\"\"", {u""}},
        SplitCase{"QuotedStretchInside", u"ab\"c d\"ef", {u"abc def"}},
        SplitCase{"DoubledQuoteInsideQuotes", u"\"a\"\"b\"", {u"ab"}},
        SplitCase{"BackslashIsOrdinary", u"C:\\dir\\ \"x\\\" y\"", {u"C:\\dir\\", u"x\\", u"y"}},
        SplitCase{"UnclosedQuoteTakesTheRest", u"a \"b c  d", {u"a", u"b c  d"}},
        SplitCase{"TabAndLineFeedInsideQuotes", u"\"a\tb\nc\"", {u"a\tb\nc"}},
        SplitCase{"QuoteAfterArgumentContinuesIt", u"PROP=\"Program Files\" x",
                  {u"PROP=Program Files", u"x"}},
        SplitCase{"AlternatingQuotesAndSpaces", u"\" \" \" \"", {u" ", u" "}},
        SplitCase{"SingleCharacters", u"a b c d e f", {u"a", u"b", u"c", u"d", u"e", u"f"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitCommandLineTest, NoArgumentEverHoldsAQuoteNorOutgrowsItsBlock) {
  // Every line over a small alphabet up to length 7: the capacity argument
  // of the block must hold for all of them (ASan watches the block).
  const char16_t alphabet[] = {u'a', u' ', u'"', u'\t'};
  for (int length = 0; length <= 7; ++length) {
    int total = 1;
    for (int i = 0; i < length; ++i) total *= 4;
    for (int n = 0; n < total; ++n) {
      std::u16string line;
      for (int i = 0, v = n; i < length; ++i, v /= 4) line += alphabet[v % 4];
      for (const auto& argument : Split(line)) EXPECT_EQ(argument.find(u'"'), std::u16string::npos);
    }
  }
}

TEST(SplitCommandLineTest, AllocationFailureLeavesTheCountAlone) {
  ScopedPlatformReset reset;
  ASSERT_TRUE(FailPlatformCall("AllocBlock", 1, 14));
  int32_t count = 42;
  EXPECT_EQ(SplitCommandLine(u"a b", &count), nullptr);
  EXPECT_EQ(count, 42);
  EXPECT_EQ(platform::LastError(), 14u);
}

// GetOwnModulePath over a module name of a chosen length, as
// GetModuleFileNameA reports it: cut to the capacity, with no terminator.
std::string fakeName;
uint32_t FakeModuleFileName(char* buffer, uint32_t capacity) {
  const uint32_t stored = fakeName.size() < capacity ? static_cast<uint32_t>(fakeName.size()) : capacity;
  std::memcpy(buffer, fakeName.data(), stored);
  if (stored < capacity) buffer[stored] = '\0';
  return stored;
}

TEST(GetOwnModulePathTest, GrowsInStepsOf64UntilTheNameFits) {
  struct Case {
    size_t length;
    uint32_t calls;  // ModuleFileName calls: 260, 324, 388, ...
  } cases[] = {{1, 1}, {259, 1}, {260, 2}, {323, 2}, {324, 3}, {1000, 13}};
  for (const Case& c : cases) {
    ScopedPlatformReset reset;
    fakeName.assign(c.length, 'x');
    gPlatform.ModuleFileName = FakeModuleFileName;
    char* path = GetOwnModulePath();
    ASSERT_NE(path, nullptr) << c.length;
    EXPECT_EQ(std::string(path), fakeName);
    EXPECT_EQ(PlatformCallCount("AllocBlock") + PlatformCallCount("GrowBlock"), c.calls) << c.length;
    platform::FreeBlock(path);
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

TEST(GetOwnModulePathTest, FailuresReleaseTheBlock) {
  for (const char* call : {"AllocBlock", "GrowBlock"}) {
    ScopedPlatformReset reset;
    fakeName.assign(300, 'y');
    gPlatform.ModuleFileName = FakeModuleFileName;
    ASSERT_TRUE(FailPlatformCall(call, 1, 8));
    EXPECT_EQ(GetOwnModulePath(), nullptr) << call;
    EXPECT_EQ(OutstandingBlocks(), 0) << call;
  }
  ScopedPlatformReset reset;
  gPlatform.ModuleFileName = [](char*, uint32_t) -> uint32_t { return 0; };
  EXPECT_EQ(GetOwnModulePath(), nullptr);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

}  // namespace
