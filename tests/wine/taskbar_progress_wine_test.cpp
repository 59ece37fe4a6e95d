// The taskbar progress wrapper against this prefix's Windows version and
// against a recording stand-in for the system's taskbar list object.
#include "ui/taskbar_progress.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shobjidl.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/win32_calls.h"
#include "tests/wine/taskbar_recorder.h"
#include "tests/wine/win32_faults.h"

namespace {

// {56FDF344-FD6D-11D0-958A-006097C9A090} and {EA1AFB91-9E28-4B86-90E9-9E9F8A5EEFAF}
const CLSID kTaskbarListClass = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID kTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

OSVERSIONINFOA injectedVersion;
BOOL injectedAnswer = TRUE;
bool queryWasClean = false;  // size 148, every other byte zero

BOOL WINAPI InjectedGetVersionExA(LPOSVERSIONINFOA version) {
  OSVERSIONINFOA clean;
  std::memset(&clean, 0, sizeof clean);
  clean.dwOSVersionInfoSize = 148;
  queryWasClean = std::memcmp(version, &clean, sizeof clean) == 0;
  if (!injectedAnswer) return FALSE;  // fails and leaves the record as it was
  version->dwMajorVersion = injectedVersion.dwMajorVersion;
  version->dwMinorVersion = injectedVersion.dwMinorVersion;
  return TRUE;
}

TEST(TaskbarProgressWine, MadeOnThisPrefix) {
  ScopedWin32Reset reset;
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  ASSERT_TRUE(version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1))
      << "Wine reports " << version.dwMajorVersion << "." << version.dwMinorVersion;
  TaskbarProgress* progress = CreateTaskbarProgress();
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(Win32CallCount("CoCreateInstance"), 1u);
  // Whatever the prefix's taskbar list object is, the wrapper works with it.
  SetTaskbarProgressState(progress, 1);
  SetTaskbarProgressTotal(progress, 100);
  SetTaskbarProgressCompleted(progress, 40);
  EXPECT_EQ(progress->total, 100u);
  EXPECT_EQ(progress->completed, 40u);
  ReleaseTaskbarProgress(progress);
}

TEST(TaskbarProgressWine, OnlyFromWindows7On) {
  struct Case {
    DWORD major, minor;
    BOOL answer;
    bool made;
  } cases[] = {
      {5, 1, TRUE, false},           {6, 0, TRUE, false},   {6, 1, TRUE, true},
      {6, 2, TRUE, true},            {7, 0, TRUE, true},    {10, 0, TRUE, true},
      {0x80000000u, 0, TRUE, true},  // unsigned: not a negative major version
      {6, 0x80000000u, TRUE, true},
      {10, 0, FALSE, false},         // a failed query reads as 0.0
  };
  for (const Case& c : cases) {
    ScopedWin32Reset reset;
    RecordingTaskbarList list;
    TaskbarCreation creation;
    InstallRecordingTaskbarList(&list, &creation);
    gWin32.GetVersionExA = InjectedGetVersionExA;
    injectedVersion.dwMajorVersion = c.major;
    injectedVersion.dwMinorVersion = c.minor;
    injectedAnswer = c.answer;
    queryWasClean = false;
    TaskbarProgress* progress = CreateTaskbarProgress();
    const std::string name = std::to_string(c.major) + "." + std::to_string(c.minor);
    EXPECT_TRUE(queryWasClean) << name;
    EXPECT_EQ(progress != nullptr, c.made) << name;
    EXPECT_EQ(creation.calls, c.made ? 1u : 0u) << name;
    EXPECT_EQ(Win32CallCount("CoInitialize"), c.made ? 1u : 0u) << name;
    if (c.made) {
      EXPECT_TRUE(IsEqualCLSID(creation.classId, kTaskbarListClass)) << name;
      EXPECT_TRUE(IsEqualIID(creation.interfaceId, kTaskbarList3)) << name;
      EXPECT_TRUE(creation.outerWasNull) << name;
      EXPECT_EQ(creation.context, 7u) << name;
      EXPECT_EQ(progress->list, static_cast<ITaskbarList3*>(&list)) << name;
      EXPECT_EQ(progress->window, nullptr);
      EXPECT_EQ(progress->total, 0u);
      EXPECT_EQ(progress->completed, 0u);
    }
    ReleaseTaskbarProgress(progress);
    EXPECT_EQ(list.calls, c.made ? std::vector<std::string>{"Release"} : std::vector<std::string>{}) << name;
  }
}

TEST(TaskbarProgressWine, WithoutTheSystemObjectValuesAreOnlyRecorded) {
  ScopedWin32Reset reset;
  ASSERT_TRUE(FailWin32Call("CoCreateInstance", 1, static_cast<uint32_t>(REGDB_E_CLASSNOTREG)));
  TaskbarProgress* progress = CreateTaskbarProgress();
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->list, nullptr);
  SetTaskbarProgressWindow(progress, GetDesktopWindow());
  SetTaskbarProgressState(progress, 1);
  SetTaskbarProgressTotal(progress, 100);
  SetTaskbarProgressCompleted(progress, 40);
  EXPECT_EQ(progress->window, GetDesktopWindow());
  EXPECT_EQ(progress->total, 100u);
  EXPECT_EQ(progress->completed, 40u);
  ReleaseTaskbarProgress(progress);
}

TEST(TaskbarProgressWine, EachValueShowsTheLatestPairCompletedFirst) {
  ScopedWin32Reset reset;
  RecordingTaskbarList list;
  TaskbarCreation creation;
  InstallRecordingTaskbarList(&list, &creation);
  TaskbarProgress* progress = CreateTaskbarProgress();
  ASSERT_NE(progress, nullptr);
  HWND window = GetDesktopWindow();
  SetTaskbarProgressWindow(progress, window);
  SetTaskbarProgressState(progress, 1);
  SetTaskbarProgressTotal(progress, 100);
  SetTaskbarProgressCompleted(progress, 40);
  SetTaskbarProgressState(progress, 0);
  SetTaskbarProgressState(progress, 7);  // any non-zero value is on
  SetTaskbarProgressTotal(progress, 0x100000005ull);
  ReleaseTaskbarProgress(progress);
  EXPECT_EQ(list.calls, (std::vector<std::string>{"SetProgressState 2", "SetProgressValue 0 100",
                                                  "SetProgressValue 40 100", "SetProgressState 0",
                                                  "SetProgressState 2", "SetProgressValue 40 4294967301",
                                                  "Release"}));
  for (HWND shown : list.windows) EXPECT_EQ(shown, window);

  // Without a wrapper there is nothing to do and nothing fails.
  SetTaskbarProgressWindow(nullptr, window);
  SetTaskbarProgressState(nullptr, 1);
  SetTaskbarProgressTotal(nullptr, 100);
  SetTaskbarProgressCompleted(nullptr, 40);
  ReleaseTaskbarProgress(nullptr);
}

}  // namespace
