#include "handoff/msiexec_command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/platform.h"
#include "handoff/msiexec_outcome.h"
#include "launcher/launcher_run.h"
#include "tests/support/fault_injection.h"

namespace {

const std::string kMsiexec = "C:\\Windows\\system32\\msiexec.exe";
const std::string kPackage = "C:\\Windows\\Installer\\{P}\\main.msi";
const std::string kBase = kMsiexec + " /i " + kPackage;

struct Built {
  ErrorPair pair;
  std::string line;
  bool allZeroAfterText;  // terminated inside the buffer, nothing left behind it
};

// Arguments after the program (index 0 is "setup.exe", never passed on).
Built Build(std::vector<std::u16string> arguments, const std::string& msiexec = kMsiexec,
            const std::string& package = kPackage) {
  arguments.insert(arguments.begin(), u"setup.exe");
  std::vector<char16_t*> pointers;
  for (std::u16string& a : arguments) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  char line[kMsiexecCommandLineSize];
  std::memset(line, 'Z', sizeof line);
  Built built;
  built.pair = BuildMsiexecCommandLine(msiexec.c_str(), package.c_str(), pointers.data(),
                                       static_cast<int32_t>(arguments.size()), line, sizeof line);
  built.line.assign(line, strnlen(line, sizeof line));
  built.allZeroAfterText = built.line.size() < sizeof line;
  for (size_t i = built.line.size(); i < sizeof line; ++i) built.allZeroAfterText &= line[i] == 0;
  return built;
}

struct LineCase {
  const char* name;
  std::vector<std::u16string> arguments;
  std::string msiexec, package;
  uint32_t code;
  std::string line;  // expected; empty on failure
};

TEST(BuildMsiexecCommandLineTest, PiecesQuotedExactlyWhenTheyHoldASpace) {
  const std::string fill(1023 - kBase.size() - 1, 'x');  // " " + fill ends at 1023 characters
  const std::string quotedFill(fill.size() - 2, 'x');    // " \"x x...\"" also ends at 1023
  const std::u16string fill16(fill.begin(), fill.end());
  const std::u16string quoted16 = u"x " + std::u16string(quotedFill.size() - 2, u'x');
  const LineCase cases[] = {
      {"NoArguments", {}, kMsiexec, kPackage, 0, kBase},
      {"MsiexecPathWithSpace", {}, "C:\\Program Files\\msiexec.exe", kPackage, 0,
       "\"C:\\Program Files\\msiexec.exe\" /i " + kPackage},
      {"PackagePathWithSpace", {}, kMsiexec, "D:\\My Files\\main.msi", 0, kMsiexec + " /i \"D:\\My Files\\main.msi\""},
      {"ArgumentWithSpace", {u"TARGETDIR=C:\\a b"}, kMsiexec, kPackage, 0, kBase + " \"TARGETDIR=C:\\a b\""},
      {"TabIsNoSpace", {u"A\tB"}, kMsiexec, kPackage, 0, kBase + " A\tB"},
      {"EmptyArgumentIsOneSpace", {u"", u"/q"}, kMsiexec, kPackage, 0, kBase + "  /q"},
      {"QuietSwitchesPassedOn", {u"/qn", u"/quiet", u"REBOOT=R"}, kMsiexec, kPackage, 0, kBase + " /qn /quiet REBOOT=R"},
      {"ConvertedBytesNotUnits", {u"caf\u00e9"}, kMsiexec, kPackage, 0, kBase + " caf\xc3\xa9"},
      {"OutsideTheCodePage", {u"a\xD800z"}, kMsiexec, kPackage, 0, kBase + " a?z"},
      {"FitsExactly", {fill16}, kMsiexec, kPackage, 0, kBase + " " + fill},
      {"OneOver", {fill16 + u"x"}, kMsiexec, kPackage, 206, ""},
      {"QuotedFitsExactly", {quoted16}, kMsiexec, kPackage, 0, kBase + " \"x " + std::string(quotedFill.size() - 2, 'x') + "\""},
      {"QuotesMakeItOneOver", {quoted16 + u"x"}, kMsiexec, kPackage, 206, ""},
      {"ManyShortArgumentsOver", std::vector<std::u16string>(600, u"/q"), kMsiexec, kPackage, 206, ""},
      {"HugeArgument", {std::u16string(5000, u'x')}, kMsiexec, kPackage, 206, ""},
      {"PackagePathDoesNotFit", {}, kMsiexec, std::string(1024 - kMsiexec.size() - 4, 'p'), 206, ""},
  };
  for (const LineCase& c : cases) {
    ScopedPlatformReset reset;
    const Built built = Build(c.arguments, c.msiexec, c.package);
    EXPECT_EQ(built.pair.code, c.code) << c.name;
    EXPECT_EQ(built.pair.line, 2355u) << c.name;
    EXPECT_EQ(built.line, c.line) << c.name;
    EXPECT_TRUE(built.allZeroAfterText) << c.name;
    EXPECT_EQ(OutstandingBlocks(), 0) << c.name;
  }
}

// Every allocation and conversion failing in turn: msiexec is never given a
// line with an argument left out, and nothing leaks.
TEST(BuildMsiexecCommandLineTest, ArgumentThatCannotBeConvertedRefusesTheLine) {
  // Three non-empty arguments: three copies, each measured and converted.
  const struct {
    const char* name;
    uint32_t calls;
  } calls[] = {{"AllocBlock", 3}, {"WideToAnsiNoBestFit", 6}};
  for (const auto& call : calls) {
    for (uint32_t error : {14u, 0u}) {
      bool fired = true;
      for (uint32_t nth = 1; fired; ++nth) {
        ScopedPlatformReset reset;
        ASSERT_TRUE(FailPlatformCall(call.name, nth, error));
        const Built built = Build({u"/qn", u"", u"A B=1", u"caf\u00e9"});
        fired = PlatformFaultFired();
        if (!fired) {
          EXPECT_EQ(built.pair.code, 0u);
          EXPECT_EQ(nth, call.calls + 1) << call.name;
          break;
        }
        EXPECT_EQ(built.pair.code, error ? error : 8u) << call.name << " " << nth;
        EXPECT_EQ(built.pair.line, 2355u);
        EXPECT_EQ(built.line, "");
        EXPECT_TRUE(built.allZeroAfterText);
        EXPECT_EQ(OutstandingBlocks(), 0) << call.name << " " << nth;
      }
    }
  }
}

// A double-byte code page's lead byte 0x81: the byte after it is a trail
// byte, even when it has the value of a space.
const char* DoubleByteNext(const char* text) {
  if (*text == 0) return text;
  return static_cast<unsigned char>(*text) == 0x81 && text[1] ? text + 2 : text + 1;
}

TEST(BuildMsiexecCommandLineTest, TrailByteIsNoSpace) {
  const std::string package = "D:\\\x81 x\\main.msi";
  ScopedPlatformReset reset;
  EXPECT_EQ(Build({}, kMsiexec, package).line, kMsiexec + " /i \"" + package + "\"");
  gPlatform.NextAnsiCharacter = DoubleByteNext;
  EXPECT_EQ(Build({}, kMsiexec, package).line, kMsiexec + " /i " + package);
}

TEST(MsiexecBoxTextTest, SuppressesMsiexecsOwnFailuresAndNamesAFailedStart) {
  const struct {
    ErrorPair pair;
    MsiexecOutcome outcome;
    BoxText box;
    const char* text;  // what the error box shows; null: no box
  } cases[] = {
      {{0, 2349}, {0, 0, 1}, BoxText::None, nullptr},
      {{1603, 2349}, {1603, 0, 1}, BoxText::None, nullptr},
      {{3010, 2349}, {3010, 0, 1}, BoxText::None, nullptr},
      {{206, 2355}, kMsiexecNotRun, BoxText::MsiexecSystemText, "Error 206 (C:\\W\\msiexec.exe)."},
      {{6, 2352}, {1601, 1, 1}, BoxText::Generic, "Error 6 (1, 6, 2352)."},  // the code and the site
  };
  for (const auto& c : cases) {
    static LauncherState state;
    BeginRun(&state);
    state.report.pair = c.pair;
    state.report.box = MsiexecBoxText(c.outcome);
    std::strcpy(state.report.msiexecPath, "C:\\W\\msiexec.exe");
    EXPECT_EQ(state.report.box, c.box) << c.pair.code;
    EXPECT_EQ(DecideErrorBox(&state), c.text != nullptr) << c.pair.code;
    if (c.text) {
      EXPECT_STREQ(state.messageText, c.text);
    }
  }
}

}  // namespace
