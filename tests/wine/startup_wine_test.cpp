// Start-up's failure sites in the real launcher code under Wine: each
// system call that start-up depends on is made to fail at the Win32 table,
// and the run's exit code, error box text and caption are checked, and that
// no product folder is left; so is the largest block of a whole run. The
// box itself is recorded instead of shown.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/system_win32.h"
#include "launcher/launcher_win32.h"
#include "base/win32_calls.h"
#include "tests/support/fault_injection.h"
#include "tests/support/files.h"
#include "tests/support/payloads.h"
#include "tests/wine/win32_faults.h"

namespace {

struct Box {
  int shown;
  std::string text;
  std::string caption;
  UINT type;
};
Box box;

int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  ++box.shown;
  box.text = text;
  box.caption = caption;
  box.type = type;
  return IDOK;
}

const wchar_t* commandLine = L"setup.exe";
LPWSTR WINAPI FakeCommandLine() { return const_cast<LPWSTR>(commandLine); }

DWORD shortBy = 0;
BOOL WINAPI ShortRead(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  return kWin32Defaults.ReadFile(file, buffer, size - shortBy, read, overlapped);
}

DWORD WINAPI SizeUnknown(HANDLE, LPDWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return INVALID_FILE_SIZE;
}

std::string OwnFileName() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  const char* slash = strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

std::string ownFile;
HANDLE WINAPI RedirectOwnFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD attributes, HANDLE templateFile) {
  // Only the launcher's read of its own file; the extraction's files are its own.
  if (access == GENERIC_READ && disposition == OPEN_EXISTING) path = ownFile.c_str();
  return kWin32Defaults.CreateFileA(path, access, share, security, disposition, attributes, templateFile);
}
// The run stops right after the selection: no msiexec.exe is found, so a
// chosen package ends with (1155, 2161) before any folder is made, and a
// package not chosen with (13, 2151).
HANDLE WINAPI NoMsiexec(LPCSTR path, LPWIN32_FIND_DATAA data) {
  const std::string text = path;
  if (text.size() >= 11 && text.compare(text.size() - 11, 11, "msiexec.exe") == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return kWin32Defaults.FindFirstFileA(path, data);
}

// Where a large package's run runs out of address space: the decoded
// cabinet's block, grown to the whole content and, moved on each growth,
// there twice for a moment. Its growth is refused as when memory runs out;
// the own file and the tail payload's copy (from LocalAlloc) are not.
constexpr uint32_t kCabinetSize = 1 << 20;
HLOCAL WINAPI RefuseLargestBlock(HLOCAL block, SIZE_T bytes, UINT flags) {
  if (bytes < kCabinetSize) return kWin32Defaults.LocalReAlloc(block, bytes, flags);
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

// The typical package, for this process's architecture, with such a
// cabinet, as the own file.
void OutOfMemoryForTheCabinet() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  TestPayloadSpec plan = TypicalPayloadSpec();
  for (TestPackage& p : plan.packages) p.architecture = wow64 ? "x64" : "Intel";
  plan.cabs[0].content = MixedContent(kCabinetSize, 1.0);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  ownFile = std::string(temp) + "startup-largest.bin";
  ASSERT_TRUE(WriteWholeFile(ownFile, BuildTestPayload(plan)));
  gWin32.CreateFileA = RedirectOwnFile;
  gWin32.FindFirstFileA = NoMsiexec;  // had the block been granted: (1155, 2161), and still no folder
  gWin32.LocalReAlloc = RefuseLargestBlock;
}

std::string ProductFolder() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows) + "\\Installer\\" + TypicalPayloadSpec().packages[0].productCode;
}

struct StartupCase {
  const char* name;
  const char* call;  // Win32 entry to fail, or null
  uint32_t nth;
  uint32_t error;
  void (*arrange)();  // other swaps, or null
  uint32_t code;
  const char* insert;  // the generic text's insert; the launcher has no payload and this test exe no strings
  bool ownCaption;     // the caption is this exe's file name, else "Loader"
};

// This test program carries no payload and no string table: a run that gets
// past start-up ends with (1168, 509) and the generic text.
const StartupCase kCases[] = {
    {"ArgumentsNotAllocated", "LocalAlloc", 1, ERROR_OUTOFMEMORY, nullptr, ERROR_OUTOFMEMORY, "1, 14, 2411", false},
    {"ArgumentsNotAllocatedNoError", "LocalAlloc", 1, 0, nullptr, 8, "1, 8, 2411", false},
    {"OwnPathUnavailable", "GetModuleFileNameA", 1, ERROR_ACCESS_DENIED, nullptr, 1921, "1, 1921, 2406", false},
    {"OwnPathNoMemory", "LocalAlloc", 2, 0, nullptr, 1921, "1, 1921, 2406", false},
    {"OwnFileNotOpened", "CreateFileA", 1, ERROR_SHARING_VIOLATION, nullptr, 32, "1, 32, 2042", true},
    {"OwnFileNotOpenedNoError", "CreateFileA", 1, 0, nullptr, 110, "1, 110, 2042", true},
    {"OwnFileSizeUnknown", nullptr, 0, 0, [] { gWin32.GetFileSize = SizeUnknown; }, 132, "1, 132, 2035", true},
    {"OwnFileNoMemory", "LocalAlloc", 3, ERROR_NOT_ENOUGH_QUOTA, nullptr, 1816, "1, 1816, 2030", true},
    {"OwnFileNoMemoryNoError", "LocalAlloc", 3, 0, nullptr, 8, "1, 8, 2030", true},
    {"OwnFileNotRead", "ReadFile", 1, ERROR_READ_FAULT, nullptr, 30, "1, 30, 2023", true},
    {"OwnFileReadShort", nullptr, 0, 0, [] { shortBy = 1; gWin32.ReadFile = ShortRead; }, 30, "1, 30, 2023", true},
    {"NoPayload", nullptr, 0, 0, nullptr, 1168, "1, 1168, 509", true},
    // The file set hides the record's own pair (13, 691).
    {"LargestBlockNoMemory", nullptr, 0, 0, OutOfMemoryForTheCabinet, 13, "1, 13, 2151", true},
};

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

class StartupWine : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupWine, FailsWithItsPairAndOneBox) {
  const StartupCase& c = GetParam();
  for (const wchar_t* line : {L"setup.exe", L"setup.exe /QN"}) {
    ScopedWin32Reset reset;
    box = Box{};
    commandLine = line;
    gWin32.MessageBoxA = RecordBox;
    gWin32.GetCommandLineW = FakeCommandLine;
    if (c.arrange) c.arrange();
    if (c.call) {
      ASSERT_TRUE(FailWin32Call(c.call, c.nth, c.error));
    }

    const uint32_t code = RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(GetFileAttributesA(ProductFolder().c_str()), INVALID_FILE_ATTRIBUTES) << "nothing is left behind";
    if (c.call) {
      EXPECT_TRUE(Win32FaultFired());
    }
    // Without an argument array no switch can be seen: the box comes anyway.
    const bool argumentsSplit = std::string(c.insert).find("2411") == std::string::npos;
    if (argumentsSplit && std::wstring(line).find(L"/QN") != std::wstring::npos) {
      EXPECT_EQ(box.shown, 0) << "a quiet switch suppresses the box";
      continue;
    }
    ASSERT_EQ(box.shown, 1);
    EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(box.caption, c.ownCaption ? OwnFileName() : std::string("Loader"));
    EXPECT_NE(box.text.find(std::string("(") + c.insert + ")."), std::string::npos) << box.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Sites, StartupWine, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

TEST(StartupWineProbe, Wow64AnswersForThisProcess) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  EXPECT_EQ(ProbeWow64(), wow64 ? 1u : 0u);
  // Windows without IsWow64Process: the probe answers 0.
  ScopedWin32Reset reset;
  for (const char* call : {"GetProcAddress", "IsWow64Process"}) {
    ASSERT_TRUE(FailWin32Call(call, 1, ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(ProbeWow64(), 0u);
  }
}

TEST(StartupWineProbe, PathExistsIsAFirstFileSearch) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  const std::string dir = windows;
  EXPECT_EQ(PathExists(dir.c_str()), 1);
  EXPECT_EQ(PathExists((dir + "\\").c_str()), 0);
  EXPECT_EQ(PathExists((dir + "\\notepad.exe").c_str()), 1);
  EXPECT_EQ(PathExists((dir + "\\no-such-file").c_str()), 0);
  EXPECT_EQ(PathExists((dir + "\\note*.exe").c_str()), 1);
  EXPECT_EQ(PathExists("C:\\"), 0);
}

// Package selection by the probe's answer: IsWow64Process is answered by a
// fake, and the own file is redirected to a payload whose only package is
// for one architecture, so the exit code tells whether it was chosen.
BOOL fakeWow64 = FALSE;
BOOL WINAPI FakeIsWow64Process(HANDLE, PBOOL answer) {
  *answer = fakeWow64;
  return TRUE;
}

TEST(StartupWineSelection, ArchitectureFollowsTheWow64Probe) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const struct {
    BOOL wow64;
    const char* architecture;
    uint32_t code;
  } cases[] = {{TRUE, "x64", 1155},  {TRUE, "Intel", 13}, {FALSE, "Intel", 1155},
               {FALSE, "x64", 13}, {TRUE, "X64", 1155}};
  for (const auto& c : cases) {
    TestPayloadSpec plan = TypicalPayloadSpec();
    for (TestPackage& p : plan.packages) p.architecture = c.architecture;
    const ByteVector stack = BuildTestPayload(plan);
    ownFile = std::string(temp) + "startup-selection.bin";
    ASSERT_TRUE(WriteWholeFile(ownFile, stack));

    ScopedWin32Reset reset;
    box = Box{};
    commandLine = L"setup.exe";
    fakeWow64 = c.wow64;
    gWin32.MessageBoxA = RecordBox;
    gWin32.GetCommandLineW = FakeCommandLine;
    gWin32.IsWow64Process = FakeIsWow64Process;
    gWin32.CreateFileA = RedirectOwnFile;
    gWin32.FindFirstFileA = NoMsiexec;
    EXPECT_EQ(RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL), c.code)
        << c.architecture << (c.wow64 ? " on 64-bit Windows" : " on 32-bit Windows");
    EXPECT_EQ(box.shown, 1);
  }
}

}  // namespace
