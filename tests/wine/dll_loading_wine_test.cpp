// No DLL planted beside the launcher is ever loaded. The real launcher is
// started from a folder that also holds a stand-in crypt32.dll (built in
// this tree; it leaves a marker file when loaded); the loader's choices, the
// start-up restriction and the certificate carrier's report of a failed load
// are checked in-process through the Win32 table.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/crypt32_win32.h"
#include "base/system_library_win32.h"
#include "base/win32_calls.h"
#include "launcher/launcher_win32.h"
#include "payload/carriers.h"
#include "tests/support/payloads.h"
#include "tests/wine/msiexec_standin.h"
#include "tests/wine/scratch_folder.h"
#include "tests/wine/win32_faults.h"
#include "tests/wine/wine_process.h"

namespace {

constexpr char kMarker[] = "planted-dll-loaded";

// A fresh folder under the temporary folder, emptied of earlier runs.
std::string Folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string folder = std::string(temp) + name + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const char* file : {kMarker, "crypt32.dll", "probe.dll", "setup.exe"}) DeleteFileA((folder + file).c_str());
  return folder;
}

// Removes what a run that ended well leaves in the Windows Installer folder.
void RemoveExtraction(const std::string& productCode) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  const std::string folder = std::string(windows) + "\\Installer\\" + productCode + "\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

bool IsPe32(const ByteVector& exe) {
  const uint32_t pe = exe[0x3C] | exe[0x3D] << 8 | exe[0x3E] << 16 | exe[0x3F] << 24;
  return exe[pe + 24] == 0x0B && exe[pe + 25] == 0x01;
}

TEST(PlantedDllWine, TheMarkerShowsALoad) {
  // The premise of the test below: loading the stand-in leaves the marker.
  const std::string folder = Folder("msilaunch-planted-probe");
  ASSERT_TRUE(WriteWholeFile(folder + "probe.dll", ReadWholeFile(MSILAUNCH_PLANTED_DLL)));
  HMODULE probe = LoadLibraryA((folder + "probe.dll").c_str());
  ASSERT_NE(probe, nullptr) << GetLastError();
  FreeLibrary(probe);
  EXPECT_TRUE(Exists(folder + kMarker));
}

TEST(PlantedDllWine, TheLauncherNeverLoadsTheCrypt32BesideIt) {
  const ByteVector stub = ReadWholeFile(MSILAUNCH_STUB);
  ASSERT_FALSE(stub.empty());
  // The package for the architecture the launcher looks for: "x64" for a
  // 32-bit process on 64-bit Windows, which this test is when the launcher is.
  TestPayloadSpec plan = TypicalPayloadSpec();
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  for (TestPackage& package : plan.packages) package.architecture = wow64 ? "x64" : "Intel";
  const ByteVector stack = BuildTestPayload(plan);
  // A PE32 launcher gets a real signed message in its certificate table, so
  // that the certificate carrier decodes it through CryptoAPI (it finds no
  // payload extension there) before the tail carrier finds the stack behind
  // it. A PE32+ launcher is never looked into for a signature, so there the
  // only question is whether starting it loads the planted DLL.
  const ByteVector setup =
      IsPe32(stub) ? WithCertificateTable(stub, SignedMessageWithExtensions({{ByteVector{1, 2, 3}, false, "1.2.3.4"}}),
                                          0, stack)
                   : WithTail(stub, stack);
  const std::string folder = Folder("msilaunch-planted");
  ASSERT_TRUE(WriteWholeFile(folder + "crypt32.dll", ReadWholeFile(MSILAUNCH_PLANTED_DLL)));
  ASSERT_TRUE(WriteWholeFile(folder + "setup.exe", setup));

  // Under Wine this runs with WINEDLLOVERRIDES=crypt32=n,b (see
  // dll_loading.cmake), so that a load-time import would take the planted
  // copy as Windows does. The run goes all the way, to a stand-in msiexec.
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  std::string output;
  uint32_t code = 0xDEADBEEF;
  ASSERT_TRUE(RunProgram(L"\"" + Widen(folder) + L"setup.exe\" /q", &output, &code)) << output;
  EXPECT_EQ(code, 0u) << "the launcher works with the system's crypt32";
  EXPECT_FALSE(Exists(folder + kMarker)) << "the crypt32.dll beside the launcher was loaded";
  for (const TestPackage& package : plan.packages) RemoveExtraction(package.productCode);
}

// ---------------------------------------------------------------------------
// The loader's choices

struct LoadRequest {
  std::string name;
  DWORD flags;
  int calls;
};
LoadRequest load;

HMODULE WINAPI RecordLoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  load = LoadRequest{name, flags, load.calls + 1};
  return kWin32Defaults.LoadLibraryExA(name, file, flags);
}

// A system with or without SetDefaultDllDirectories (and so the
// LOAD_LIBRARY_SEARCH_* flags).
bool offerSearchFlags = true;
FARPROC WINAPI SystemWithOrWithoutSearchFlags(HMODULE module, LPCSTR name) {
  if (!offerSearchFlags && std::string(name) == "SetDefaultDllDirectories") {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return kWin32Defaults.GetProcAddress(module, name);
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

TEST(SystemLibraryWine, LoadsFromTheSystemDirectoryOnly) {
  char system[MAX_PATH];
  ASSERT_NE(GetSystemDirectoryA(system, sizeof system), 0u);
  const struct {
    bool searchFlags;
    std::string name;
    DWORD flags;
  } cases[] = {
      {true, "crypt32.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
      {false, std::string(system) + "\\crypt32.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.searchFlags ? "with the search flags" : "without them");
    ScopedWin32Reset reset;
    load = LoadRequest{};
    offerSearchFlags = c.searchFlags;
    gWin32.GetProcAddress = SystemWithOrWithoutSearchFlags;
    gWin32.LoadLibraryExA = RecordLoadLibraryExA;
    HMODULE module = LoadSystemLibrary("crypt32.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(load.calls, 1);
    EXPECT_EQ(load.name, c.name);
    EXPECT_EQ(load.flags, c.flags);
    char path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(module, path, sizeof path), 0u);
    EXPECT_EQ(Lower(path), Lower(std::string(system) + "\\crypt32.dll"));
  }

  // Without the flags and without a system directory nothing is loaded.
  ScopedWin32Reset reset;
  load = LoadRequest{};
  offerSearchFlags = false;
  gWin32.GetProcAddress = SystemWithOrWithoutSearchFlags;
  gWin32.LoadLibraryExA = RecordLoadLibraryExA;
  ASSERT_TRUE(FailWin32Call("GetSystemDirectoryA", 1, ERROR_ACCESS_DENIED));
  EXPECT_EQ(LoadSystemLibrary("crypt32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(load.calls, 0);
  offerSearchFlags = true;
}

TEST(SystemLibraryWine, CertificateCarrierReportsAFailedLoadAtItsFirstStep) {
  const ByteVector file =
      WithCertificateTable(MinimalPe32(), SignedMessageWithExtensions({{BuildTestPayload(TypicalPayloadSpec()), false, ""}}));
  const uint32_t size = static_cast<uint32_t>(file.size());
  const struct {
    const char* name;
    const char* call;
    uint32_t nth;  // GetProcAddress #1 asks for SetDefaultDllDirectories
    uint32_t error;
    ErrorPair expected;
  } cases[] = {
      {"crypt32 not loaded", "LoadLibraryExA", 1, ERROR_MOD_NOT_FOUND, {ERROR_MOD_NOT_FOUND, 831}},
      {"crypt32 not loaded, no last error", "LoadLibraryExA", 1, 0, {ErrorCode::InvalidArg, 831}},
      {"a function missing", "GetProcAddress", 2, ERROR_PROC_NOT_FOUND, {ERROR_PROC_NOT_FOUND, 831}},
      {"the last function missing", "GetProcAddress", 7, ERROR_PROC_NOT_FOUND, {ERROR_PROC_NOT_FOUND, 831}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    win32_defaults::ForgetCrypt32();
    ScopedWin32Reset reset;
    ASSERT_TRUE(FailWin32Call(c.call, c.nth, c.error));
    PayloadList list{};
    const ErrorPair pair = ReadCertificatePayloads(file.data(), size, &list);
    EXPECT_TRUE(Win32FaultFired());
    EXPECT_EQ(pair.code, c.expected.code);
    EXPECT_EQ(pair.line, c.expected.line);
    EXPECT_EQ(list.count, 0u);
    ReleasePayloadList(&list);

    // A failed load is not remembered: the next run links and finds the payload.
    ResetWin32Calls();
    const ErrorPair again = ReadCertificatePayloads(file.data(), size, &list);
    EXPECT_EQ(again.code, 0u);
    EXPECT_EQ(list.count, 1u);
    ReleasePayloadList(&list);
  }
}

// ---------------------------------------------------------------------------
// Start-up

std::vector<std::string> events;

BOOL WINAPI RecordRestriction(DWORD flags) {
  events.push_back("SetDefaultDllDirectories " + std::to_string(flags));
  return TRUE;
}
bool offerRestriction = true;
FARPROC WINAPI RestrictionLookup(HMODULE module, LPCSTR name) {
  if (std::string(name) == "SetDefaultDllDirectories") {
    if (!offerRestriction) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(RecordRestriction));
  }
  events.push_back(std::string("GetProcAddress ") + name);
  return kWin32Defaults.GetProcAddress(module, name);
}
void WINAPI RecordInitCommonControls() {
  events.push_back("InitCommonControls");
  kWin32Defaults.InitCommonControls();
}
HRESULT WINAPI RecordCoInitialize(LPVOID reserved) {
  events.push_back("CoInitialize");
  return kWin32Defaults.CoInitialize(reserved);
}
LPWSTR WINAPI QuietCommandLine() { return const_cast<LPWSTR>(L"setup.exe /q"); }

TEST(StartupDllSearchWine, RestrictedBeforeAnythingCanLoadADll) {
  for (bool offered : {true, false}) {
    SCOPED_TRACE(offered ? "SetDefaultDllDirectories offered" : "not offered");
    ScopedWin32Reset reset;
    events.clear();
    offerRestriction = offered;
    gWin32.GetProcAddress = RestrictionLookup;
    gWin32.InitCommonControls = RecordInitCommonControls;
    gWin32.CoInitialize = RecordCoInitialize;
    gWin32.GetCommandLineW = QuietCommandLine;
    // This test program carries no payload: the run ends with (1168, 509).
    EXPECT_EQ(RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL), 1168u);
    std::vector<std::string> expected = {"InitCommonControls", "CoInitialize", "GetProcAddress IsWow64Process"};
    if (offered) expected.insert(expected.begin(), "SetDefaultDllDirectories 2048");  // LOAD_LIBRARY_SEARCH_SYSTEM32
    EXPECT_EQ(events, expected);
  }
}

}  // namespace
