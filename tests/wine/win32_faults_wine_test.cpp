// The Win32 fault twin reaches portable code through the platform defaults.
#include "tests/wine/win32_faults.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/win32_calls.h"
#include "launcher/command_line.h"
#include "launcher/launcher_win32.h"
#include "base/error_text.h"
#include "base/platform.h"
#include "tests/support/fault_injection.h"

namespace {

TEST(Win32FaultsWine, FailedSystemCallsSurfaceWithTheirCode) {
  struct Case {
    const char* call;
    uint32_t error;
  } cases[] = {{"LocalAlloc", 14}, {"LocalAlloc", 8}};
  for (const Case& c : cases) {
    ScopedWin32Reset reset;
    ASSERT_TRUE(FailWin32Call(c.call, 1, c.error));
    int32_t count = -1;
    EXPECT_EQ(SplitCommandLine(u"a b", &count), nullptr);
    EXPECT_EQ(platform::LastError(), c.error);
    EXPECT_EQ(count, -1);
    EXPECT_TRUE(Win32FaultFired());
  }
}

TEST(Win32FaultsWine, OwnPathReleasesItsBlockWhenTheNameIsUnavailable) {
  ScopedWin32Reset reset;
  ASSERT_TRUE(FailWin32Call("GetModuleFileNameA", 1, 5));
  EXPECT_EQ(GetOwnModulePath(), nullptr);
  EXPECT_EQ(platform::LastError(), 5u);
  EXPECT_EQ(Win32CallCount("LocalAlloc"), 1u);
  EXPECT_EQ(Win32CallCount("LocalFree"), 1u);
}

TEST(Win32FaultsWine, ReleasesKeepTheFailureCode) {
  // A block released on a failure path must not wipe the code the caller is
  // about to take.
  ScopedWin32Reset reset;
  void* block = platform::AllocBlock(16, 0);
  ASSERT_NE(block, nullptr);
  platform::SetLastErrorCode(1392);
  platform::FreeBlock(block);
  EXPECT_EQ(platform::LastError(), 1392u);
  EXPECT_EQ(Win32CallCount("LocalFree"), 1u);
}

TEST(Win32FaultsWine, MissingSystemTextFallsBackToTheNumber) {
  ScopedWin32Reset reset;
  ASSERT_TRUE(FailWin32Call("FormatMessageA", 1, 317));
  char buffer[64];
  FormatErrorText(2, buffer, sizeof buffer, nullptr);
  EXPECT_STREQ(buffer, "Error 2");
}

TEST(Win32FaultsWine, BothTablesCanBeArmed) {
  ScopedWin32Reset win32;
  ScopedPlatformReset portable;
  ASSERT_TRUE(FailPlatformCall("AllocBlock", 1, 8));
  int32_t count = -1;
  EXPECT_EQ(SplitCommandLine(u"a", &count), nullptr);
  EXPECT_EQ(platform::LastError(), 8u);
  // The injected failure stopped before the system was asked.
  EXPECT_EQ(Win32CallCount("LocalAlloc"), 0u);
  EXPECT_FALSE(FailWin32Call("NoSuchCall", 1, 5));
  EXPECT_FALSE(FailWin32Call("LocalAlloc", 0, 5));
}

// The injected CharNextA failure moves on like the real call, so that a walk
// over a text (the error box caption's, say) ends whatever fails.
struct Box {
  int shown;
  std::string caption;
};
Box box;
int WINAPI RecordBox(HWND, LPCSTR, LPCSTR caption, UINT) {
  ++box.shown;
  box.caption = caption;
  return IDOK;
}
LPWSTR WINAPI PlainCommandLine() { return const_cast<LPWSTR>(L"setup.exe"); }

TEST(Win32FaultsWine, FailedCharNextStillMovesOn) {
  ScopedWin32Reset reset;
  const char text[] = "a";
  ASSERT_TRUE(FailWin32Call("CharNextA", 1, 0, 2));
  ASSERT_EQ(gWin32.CharNextA(text), text + 1);
  ASSERT_EQ(gWin32.CharNextA(text + 1), text + 1);  // never past the terminator

  // The error box caption's walk over the own path ends with every step failing.
  ResetWin32Calls();
  box = Box{};
  gWin32.MessageBoxA = RecordBox;
  gWin32.GetCommandLineW = PlainCommandLine;
  ASSERT_TRUE(FailWin32Call("CharNextA", 1, 0, UINT32_MAX));
  EXPECT_EQ(RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL), 1168u);
  EXPECT_TRUE(Win32FaultFired());
  char own[MAX_PATH];
  GetModuleFileNameA(nullptr, own, sizeof own);
  const std::string path = own;
  EXPECT_EQ(box.shown, 1);
  EXPECT_EQ(box.caption, path.substr(path.rfind('\\') + 1));
}

}  // namespace
