// The hand-off against the real system: a stand-in msiexec (fake_msiexec.exe)
// started through the launcher's own code, the registration check on real
// keys in both registry views, and the cleanup on real files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/win32_calls.h"
#include "handoff/cleanup_win32.h"
#include "handoff/msiexec_command_line.h"
#include "handoff/msiexec_win32.h"
#include "launcher/launcher_run.h"
#include "tests/support/fault_injection.h"
#include "tests/wine/code_page.h"
#include "tests/wine/wine_process.h"
#include "tests/wine/win32_faults.h"

namespace {

std::string Temp(const std::string& name) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return folder + name;
}

std::string FileText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

const std::string kFake = [] {
  std::string path;
  for (wchar_t c : ToolsDirectory() + L"fake_msiexec.exe") path += static_cast<char>(c);
  return path;
}();
const std::string kPackage = "C:\\I\\main.msi";

// One run of the stand-in: its log and exit code pass through the
// environment, which the launcher hands on to msiexec.
struct FakeRun {
  std::string log = Temp("msilaunch-handoff.log"), startup = Temp("msilaunch-handoff.startup");
  explicit FakeRun(const char* exitCode) {
    DeleteFileA(log.c_str());
    DeleteFileA(startup.c_str());
    SetEnvironmentVariableA("MSILAUNCH_FAKE_MSIEXEC_LOG", log.c_str());
    SetEnvironmentVariableA("MSILAUNCH_FAKE_MSIEXEC_STARTUP", startup.c_str());
    SetEnvironmentVariableA("MSILAUNCH_FAKE_MSIEXEC_EXIT_CODE", exitCode);
  }
  ~FakeRun() {
    DeleteFileA(log.c_str());
    DeleteFileA(startup.c_str());
  }
};

struct Launched {
  ErrorPair pair;
  MsiexecOutcome outcome;
};

// As the installation sequence does it: build the line, then launch.
Launched Launch(const std::string& msiexec, std::vector<std::u16string> arguments,
                const std::string& package = kPackage) {
  arguments.insert(arguments.begin(), u"setup.exe");
  std::vector<char16_t*> pointers;
  for (std::u16string& a : arguments) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  char line[kMsiexecCommandLineSize];
  Launched launched{BuildMsiexecCommandLine(msiexec.c_str(), package.c_str(), pointers.data(),
                                            static_cast<int32_t>(arguments.size()), line, sizeof line),
                    kMsiexecNotRun};
  if (launched.pair.code == 0)
    launched.pair = LaunchMsiexec(msiexec.c_str(), line, 0x10000 | SW_SHOWMINNOACTIVE, &launched.outcome);
  return launched;
}

TEST(LaunchMsiexecWine, CommandLineAndExitCodeAsMsiexecSeesThem) {
  const std::string spaced = Temp("msilaunch handoff\\msiexec.exe");
  CreateDirectoryA(Temp("msilaunch handoff").c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(kFake.c_str(), spaced.c_str(), FALSE)) << GetLastError();
  const struct {
    std::string msiexec, package;
    std::vector<std::u16string> arguments;
    const char* exitCode;
    uint32_t code;
    std::string received;
  } cases[] = {
      {kFake, kPackage, {}, "0", 0, kFake + " /i " + kPackage},
      {spaced, kPackage, {u"/qn"}, "1603", 1603, "\"" + spaced + "\" /i " + kPackage + " /qn"},
      {kFake, "C:\\My Files\\main.msi", {u"A B=1", u"C\tD", u"", u"/q"}, "3010", 3010,
       kFake + " /i \"C:\\My Files\\main.msi\" \"A B=1\" C\tD  /q"},
      {kFake, kPackage, {u"/passive"}, "1602", 1602, kFake + " /i " + kPackage + " /passive"},
      {kFake, kPackage, {}, "0x80070005", 0x80070005u, kFake + " /i " + kPackage},
  };
  for (const auto& c : cases) {
    FakeRun fake(c.exitCode);
    ScopedWin32Reset reset;
    const Launched launched = Launch(c.msiexec, c.arguments, c.package);
    EXPECT_EQ(launched.pair.code, c.code);
    EXPECT_EQ(launched.pair.line, 2349u);
    EXPECT_EQ(launched.outcome.exitCode, c.code);
    EXPECT_EQ(launched.outcome.unknown, 0u);
    EXPECT_EQ(launched.outcome.started, 1u);
    EXPECT_EQ(FileText(fake.log), c.received + "\n");
    EXPECT_EQ(FileText(fake.startup), "1 7\n");  // STARTF_USESHOWWINDOW, the show command's low 16 bits
    EXPECT_EQ(Win32CallCount("CloseHandle"), 2u);
  }
  DeleteFileA(spaced.c_str());
  RemoveDirectoryA(Temp("msilaunch handoff").c_str());
}

TEST(LaunchMsiexecWine, CharactersOutsideTheCodePageArriveAsTheDefaultCharacter) {
  if (!HasCodePage(1252)) GTEST_SKIP() << "expectations are written for code page 1252, not " << GetACP();
  char bestFit[4] = {};  // what a plain conversion makes of a fullwidth quote
  WideCharToMultiByte(CP_ACP, 0, L"\xFF02", 1, bestFit, sizeof bestFit, nullptr, nullptr);
  ASSERT_STREQ(bestFit, "\"");
  {
    FakeRun fake("0");
    Launch(kFake, {u"\xFF02x y\xFF02", u"\x4E2D", u"caf\u00e9"});
    EXPECT_EQ(FileText(fake.log), kFake + " /i " + kPackage + " \"?x y?\" ? caf\xe9\n");
  }
  // A code page that refuses the flag (UTF-8) holds every character: the
  // plain conversion is taken rather than refusing the argument.
  FakeRun fake("0");
  ScopedWin32Reset reset;
  ASSERT_TRUE(FailWin32Call("WideCharToMultiByte", 1, ERROR_INVALID_FLAGS));
  EXPECT_EQ(Launch(kFake, {u"caf\u00e9"}).pair.code, 0u);
  EXPECT_EQ(FileText(fake.log), kFake + " /i " + kPackage + " caf\xe9\n");
}

TEST(LaunchMsiexecWine, FailuresToStartOrToLearnTheEnd) {
  char fileNotFound[512];  // the system text the box shows for a failed start
  std::string text(fileNotFound, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 1024,
                                                fileNotFound, sizeof fileNotFound, nullptr));
  text.erase(text.find_last_not_of(". \r\n") + 1);
  ASSERT_FALSE(text.empty());
  const struct {
    const char* call;  // Win32 entry to fail, or null
    uint32_t error;
    const char* exitCode;  // the stand-in's
    ErrorPair pair;
    MsiexecOutcome outcome;
    std::string box;  // the whole message text, when fixed here
  } cases[] = {
      {"CreateProcessA", ERROR_FILE_NOT_FOUND, "0", {2, 2355}, {1601, 0, 0}, text + " (" + kFake + ")."},
      {"CreateProcessA", 0, "0", {89, 2355}, {1601, 0, 0}, ""},
      {"WaitForSingleObject", ERROR_ACCESS_DENIED, "0", {5, 2352}, {1601, 1, 1}, ""},
      {"WaitForSingleObject", 0, "0", {6, 2352}, {1601, 1, 1}, ""},
      {"GetExitCodeProcess", ERROR_ACCESS_DENIED, "0", {1601, 2349}, {1601, 0, 1}, ""},
      {nullptr, 0, "259", {259, 2352}, {259, 1, 1}, ""},
  };
  for (const auto& c : cases) {
    FakeRun fake(c.exitCode);
    ScopedWin32Reset reset;
    if (c.call) {
      ASSERT_TRUE(FailWin32Call(c.call, 1, c.error));
    }
    const Launched launched = Launch(kFake, {u"/qn"});
    const std::string name = std::string(c.call ? c.call : "exit code") + " " + std::to_string(c.pair.code);
    EXPECT_EQ(launched.pair.code, c.pair.code) << name;
    EXPECT_EQ(launched.pair.line, c.pair.line) << name;
    EXPECT_EQ(launched.outcome.exitCode, c.outcome.exitCode) << name;
    EXPECT_EQ(launched.outcome.unknown, c.outcome.unknown) << name;
    EXPECT_EQ(launched.outcome.started, c.outcome.started) << name;
    EXPECT_EQ(Win32CallCount("CloseHandle"), c.pair.line == 2355 ? 0u : 2u) << name;
    static LauncherState state;
    BeginRun(&state);
    state.report.pair = launched.pair;
    state.report.box = MsiexecBoxText(launched.outcome);
    std::strcpy(state.report.msiexecPath, kFake.c_str());
    EXPECT_EQ(DecideErrorBox(&state), c.pair.line != 2349) << name << ": msiexec's own end shows no box";
    if (!c.box.empty()) {
      EXPECT_EQ(std::string(state.messageText), c.box);
    } else if (c.pair.line == 2355) {
      EXPECT_NE(std::string(state.messageText).find(" (" + kFake + ")."), std::string::npos);
    }
    if (c.pair.line == 2352) Sleep(500);  // the stand-in still runs: let it end before its log goes
  }
}

UINT WINAPI DirectoryWithoutMsiexec(LPSTR buffer, UINT size) {
  CreateDirectoryA(Temp("msilaunch-no-msiexec").c_str(), nullptr);
  lstrcpynA(buffer, Temp("msilaunch-no-msiexec").c_str(), static_cast<int>(size));
  return lstrlenA(buffer);
}

TEST(FindMsiexecWine, OnlyTheSystemDirectorysMsiexec) {
  char system[MAX_PATH], own[MAX_PATH], searched[MAX_PATH] = {}, path[kMsiexecPathSize];
  GetSystemDirectoryA(system, sizeof system);
  GetModuleFileNameA(nullptr, own, sizeof own);
  std::string planted = own;  // beside this program, where a search looks first
  planted = planted.substr(0, planted.rfind('\\') + 1) + "msiexec.exe";
  ASSERT_TRUE(CopyFileA(kFake.c_str(), planted.c_str(), FALSE));
  SearchPathA(nullptr, "msiexec.exe", nullptr, sizeof searched, searched, nullptr);
  const ErrorPair found = FindMsiexec(path, sizeof path);
  DeleteFileA(planted.c_str());
  EXPECT_STRCASEEQ(searched, planted.c_str()) << "a search would have taken the planted one";
  EXPECT_EQ(found.code, 0u);
  EXPECT_EQ(found.line, 2161u);
  EXPECT_EQ(std::string(path), std::string(system) + "\\msiexec.exe");

  // Unreadable, without msiexec, or too long for the name after it.
  for (int failure = 0; failure < 3; ++failure) {
    ScopedWin32Reset reset;
    if (failure == 0) {
      ASSERT_TRUE(FailWin32Call("GetSystemDirectoryA", 1, 0));
    }
    if (failure == 1) gWin32.GetSystemDirectoryA = DirectoryWithoutMsiexec;
    std::memset(path, 'Z', sizeof path);
    const ErrorPair pair = FindMsiexec(path, failure == 2 ? static_cast<uint32_t>(std::strlen(system) + 12) : sizeof path);
    EXPECT_EQ(pair.code, 1155u) << failure;
    EXPECT_EQ(pair.line, 2161u);
    EXPECT_STREQ(path, "") << failure;
  }
}

// ---------------------------------------------------------------------------
// Registration check and cleanup

// An Uninstall entry for `code` in one registry view, with `size` bytes of
// `value` as its "UninstallString", or without one when `value` is null.
struct Entry {
  REGSAM view;
  std::string name;
  Entry(REGSAM view, const std::string& code, const char* value = "x", DWORD size = 2)
      : view(view), name("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>("P"), 2);
    if (value) RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), size);
    RegCloseKey(key);
  }
  ~Entry() { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), view, 0); }
};

TEST(IsProductRegisteredWine, OneViewAndANonEmptyUninstallString) {
  const std::string longest = "{" + std::string(201, 'L') + "}";  // its key name has 255 characters
  const Entry longEntry(KEY_WOW64_64KEY, longest);
  const struct {
    const char* code;
    REGSAM view;  // where the entry is; 0: nowhere
    const char* value;
    DWORD size;
    uint32_t isWow64;
    int registered;
  } cases[] = {
      {"{64-under-wow64}", KEY_WOW64_64KEY, "MsiExec /X{P}", 14, 1, 1},
      {"{32-without-wow64}", KEY_WOW64_32KEY, "MsiExec /X{P}", 14, 0, 1},
      {"{32-only-under-wow64}", KEY_WOW64_32KEY, "MsiExec /X{P}", 14, 1, 0},
      {"{64-only-without-wow64}", KEY_WOW64_64KEY, "MsiExec /X{P}", 14, 0, 0},
      {"{no-uninstall-string}", KEY_WOW64_64KEY, nullptr, 0, 1, 0},
      {"{zero-bytes}", KEY_WOW64_64KEY, "", 0, 1, 0},
      {"{empty-string}", KEY_WOW64_64KEY, "", 1, 1, 1},
      {"{no-entry}", 0, nullptr, 0, 1, 0},
      {"", 0, nullptr, 0, 1, 0},
      {longest.c_str(), 0, nullptr, 0, 1, 1},
      {(longest + "X").c_str(), 0, nullptr, 0, 1, 0},  // cut, it would name the entry above
  };
  for (const auto& c : cases) {
    std::optional<Entry> entry;
    if (c.view) entry.emplace(c.view, c.code, c.value, c.size);
    EXPECT_EQ(IsProductRegistered(c.code, c.isWow64), c.registered) << c.code;
  }
}

// Three items as the extraction leaves them: main.msi written and closed, a
// cabinet still open for writing, and an item that never got a path.
struct Extraction {
  std::string folder, product;
  FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
  explicit Extraction(const std::string& name)
      : folder(Temp("msilaunch-cleanup-" + name)), product("{msilaunch-" + name + "}") {
    CreateDirectoryA(folder.c_str(), nullptr);
    set.items = static_cast<FileItem*>(platform::AllocBlock(3 * sizeof(FileItem), kBlockZeroed));
    for (const char* file : {"main.msi", "a.cab", ""}) {
      FileItem& item = set.items[set.count++];
      item.data = static_cast<uint8_t*>(platform::AllocBlock(16, kBlockZeroed));
      item.size = 16;
      if (!*file) break;
      std::strcpy(item.path, (folder + "\\" + file).c_str());
      item.handle = CreateFileA(item.path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    CloseHandle(set.items[0].handle);
    set.items[0].handle = nullptr;
  }
  bool Exists(const std::string& name) const {
    return GetFileAttributesA((folder + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  ~Extraction() {
    for (const char* file : {"main.msi", "a.cab", "other.txt"}) DeleteFileA((folder + "\\" + file).c_str());
    RemoveDirectoryA(folder.c_str());
  }
};

TEST(CleanUpExtractionWine, WhatStaysFollowsTheOutcomeAndTheRegistration) {
  const struct {
    const char* name;
    MsiexecOutcome outcome;
    bool registered, otherFile;
    bool filesStay, folderStays;
  } cases[] = {
      {"SucceededRegistered", {0, 0, 1}, true, false, true, true},
      {"SucceededNotRegistered", {0, 0, 1}, false, false, true, true},
      {"FailedRegistered", {1603, 0, 1}, true, false, true, true},
      {"FailedNotRegistered", {1603, 0, 1}, false, false, false, false},
      {"FailedNotRegisteredOtherFile", {1603, 0, 1}, false, true, false, true},
      {"NeverRanNotRegistered", {1601, 0, 0}, false, false, false, false},
      {"WaitFailedNotRegistered", {1601, 1, 1}, false, false, true, true},
      {"StillActiveNotRegistered", {259, 1, 1}, false, false, true, true},
  };
  for (const auto& c : cases) {
    ScopedPlatformReset blocks;
    Extraction x(c.name);
    if (c.otherFile) CloseHandle(CreateFileA((x.folder + "\\other.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, 0, nullptr));
    std::optional<Entry> entry;
    if (c.registered) entry.emplace(KEY_WOW64_64KEY, x.product);
    ScopedWin32Reset reset;
    HeldFolders held{};
    CleanUpExtraction(&x.set, &held, c.outcome, x.product.c_str(), 1, x.folder.c_str());
    EXPECT_EQ(x.Exists("main.msi"), c.filesStay) << c.name;
    EXPECT_EQ(x.Exists("a.cab"), c.filesStay) << c.name;  // closed before it is deleted
    EXPECT_EQ(x.Exists(""), c.folderStays) << c.name;
    EXPECT_EQ(x.Exists("other.txt"), c.otherFile) << c.name;
    EXPECT_EQ(x.set.items, nullptr);
    EXPECT_EQ(OutstandingBlocks(), 0) << c.name;
    EXPECT_LE(Win32CallCount("DeleteFileA"), 2u) << "the item without a path is never deleted";
  }
}

TEST(CleanUpExtractionWine, StoppedBeforeTheFolderStepTouchesNoFile) {
  ScopedPlatformReset blocks;
  Extraction x("early");
  CloseHandle(x.set.items[1].handle);
  x.set.items[1].handle = nullptr;
  for (int32_t i = 0; i < x.set.count; ++i) x.set.items[i].path[0] = '\0';
  ScopedWin32Reset reset;
  HeldFolders held{};
  CleanUpExtraction(&x.set, &held, kMsiexecNotRun, x.product.c_str(), 1, "");
  EXPECT_EQ(Win32CallCount("FindFirstFileA") + Win32CallCount("DeleteFileA") + Win32CallCount("RemoveDirectoryA"), 0u);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

}  // namespace
