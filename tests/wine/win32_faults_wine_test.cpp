// The Win32 fault twin reaches portable code through the platform defaults.
#include "tests/wine/win32_faults.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/command_line.h"
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

}  // namespace
