// The whole launcher end to end under Wine: the real msilaunch.exe started as
// a child process with a payload at its tail, against a stand-in msiexec that
// logs what it receives and against Wine's real msiexec installing packages
// that wixl built and the packer packed (make-installation-packages). Where a
// system call must fail, RunLauncher runs in this process with the failure
// armed at the Win32 table, its own file redirected to a payload.
//
// What a test makes (extraction folders, planted files and keys, installed
// products, the stand-in in place of the system's msiexec) is taken away by
// scoped guards, also when the test fails midway.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/win32_calls.h"
#include "handoff/installation_sequence.h"
#include "launcher/command_line.h"
#include "launcher/launcher_run.h"
#include "launcher/launcher_win32.h"
#include "tests/support/payloads.h"
#include "tests/wine/browser_driver.h"
#include "tests/wine/code_page.h"
#include "tests/wine/msiexec_standin.h"
#include "tests/wine/scratch_folder.h"
#include "tests/wine/win32_faults.h"
#include "tests/wine/wine_process.h"

namespace {

// make-installation-packages makes these products.
constexpr char kLanguagesIntel[] = "{5E1A0C3B-7D42-4F7A-9B1E-0A6C2D8E4F01}";
constexpr char kLanguagesX64[] = "{5E1A0C3B-7D42-4F7A-9B1E-0A6C2D8E4F02}";
constexpr char kConditionIntel[] = "{5E1A0C3B-7D42-4F7A-9B1E-0A6C2D8E4F03}";
constexpr char kConditionX64[] = "{5E1A0C3B-7D42-4F7A-9B1E-0A6C2D8E4F04}";

// ---------------------------------------------------------------------------
// Places, files and folders

// A build-tree path as the compiler definitions give it (Z:/...), with
// Windows separators, as a user's path would have them.
std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string WindowsFolder() {
  char folder[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  return std::string(folder, length < sizeof folder ? length : 0);
}

std::string SystemMsiexec() {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, sizeof folder);
  return std::string(folder, length < sizeof folder ? length : 0) + "\\msiexec.exe";
}

std::string InstallerFolder(const std::string& productCode) { return WindowsFolder() + "\\Installer\\" + productCode; }

// A fresh folder under the temporary folder, removed with its content.
struct WorkFolder : ScratchFolder {
  explicit WorkFolder(const std::string& name) : ScratchFolder("msilaunch-installation", name) {}
};

// The product's extraction in the Installer folder goes with the guard;
// a plain file put there first makes the launcher's attempt fail for real.
struct InstallerFolderGuard {
  std::string path;
  explicit InstallerFolderGuard(const std::string& productCode) : path(InstallerFolder(productCode)) {
    CreateDirectoryA((WindowsFolder() + "\\Installer").c_str(), nullptr);
    RemoveTree(path);
  }
  ~InstallerFolderGuard() { RemoveTree(path); }
  void Block() {
    const ByteVector inTheWay = {'i', 'n', ' ', 't', 'h', 'e', ' ', 'w', 'a', 'y'};
    EXPECT_TRUE(WriteWholeFile(path, inTheWay)) << path;
  }
};

// ---------------------------------------------------------------------------
// Architecture and registration. The same test runs in the 32-bit tree, where
// the launcher is a WOW64 process, picks "x64" packages and reads the 64-bit
// registry view; here it is a 64-bit process, picks "Intel" packages and reads
// the 32-bit view. This test program has the launcher's bitness, so it asks
// the same question the launcher asks.

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}
const char* ThisArchitecture() { return RunsUnderWow64() ? "x64" : "Intel"; }
REGSAM LauncherView() { return RunsUnderWow64() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
REGSAM OtherView() { return RunsUnderWow64() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

std::string UninstallKey(const std::string& productCode) {
  return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
}

// The product's "UninstallString" in `view`; empty when there is none.
std::string UninstallString(const std::string& productCode, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey(productCode).c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return std::string();
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  const LSTATUS status =
      RegQueryValueExA(key, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::string(value) : std::string();
}

// An uninstall entry planted for a product that no msiexec installed.
struct PlantedRegistration {
  std::string name;
  REGSAM view;
  PlantedRegistration(const std::string& productCode, REGSAM planted) : name(UninstallKey(productCode)), view(planted) {
    HKEY key;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const std::string command = "MsiExec.exe /X" + productCode;
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
  }
  ~PlantedRegistration() { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), view, 0); }
  PlantedRegistration(const PlantedRegistration&) = delete;
  PlantedRegistration& operator=(const PlantedRegistration&) = delete;
};

// ---------------------------------------------------------------------------
// The launcher as a child process

struct SeenDialog {
  std::string caption;
  std::string text;
  bool browser;
};

struct ChildRun {
  uint32_t exitCode = 0xDEADBEEF;
  std::vector<SeenDialog> dialogs;
};

SeenDialog Read(HWND dialog) {
  SeenDialog seen{"", "", false};
  char text[2048] = "";
  GetWindowTextA(dialog, text, sizeof text);
  seen.caption = text;
  text[0] = '\0';
  GetDlgItemTextA(dialog, 0xFFFF, text, sizeof text);  // a message box's text
  seen.text = text;
  seen.browser = IsFolderBrowser(dialog);
  return seen;
}

// Starts the launcher at `path` with `arguments` after its name, in
// `currentDirectory` (empty: this program's), and waits for it. Every dialog
// it shows is read and answered as a user who wants out would: OK for a
// message box, Cancel for the folder browser. The full exit code is read.
ChildRun RunSetup(const std::string& path, const std::wstring& arguments, const std::string& currentDirectory = "") {
  ChildRun run;
  std::wstring commandLine = L"\"" + Widen(path) + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  const std::wstring directory = Widen(currentDirectory);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    ADD_FAILURE() << "cannot start " << path << ": " << GetLastError();
    return run;
  }
  std::set<HWND> answered;
  bool ended = false;
  for (int i = 0; i < 6000 && !ended; ++i) {  // five minutes: real installations take a while
    ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
    for (HWND dialog : VisibleDialogsOf(process.dwProcessId)) {
      if (!answered.insert(dialog).second) continue;
      const SeenDialog seen = Read(dialog);
      run.dialogs.push_back(seen);
      // Sent: Wine's browser loop takes seconds to see a posted command.
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(dialog, WM_COMMAND, seen.browser ? IDCANCEL : IDOK, 0, SMTO_NORMAL, 10000, &ignored);
    }
  }
  if (!ended) {
    ADD_FAILURE() << path << " did not end";
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, 10000);
  }
  DWORD code = 0xDEADBEEF;
  GetExitCodeProcess(process.hProcess, &code);
  run.exitCode = code;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

std::string Describe(const std::vector<SeenDialog>& dialogs) {
  std::string text;
  for (const SeenDialog& d : dialogs) text += (d.browser ? "[browser] " : "[box] ") + d.caption + ": " + d.text + "\n";
  return text;
}

// ---------------------------------------------------------------------------
// Payloads made in the test (for the stand-in msiexec, which installs nothing)

TestPayloadSpec SpecFor(const std::string& productCode) {
  TestPayloadSpec plan = TypicalPayloadSpec();
  for (TestPackage& p : plan.packages) {
    p.architecture = ThisArchitecture();
    p.productCode = productCode;
  }
  return plan;
}

ByteVector SetupWithPayload(const TestPayloadSpec& plan) {
  ByteVector exe = ReadWholeFile(MSILAUNCH_STUB);
  const ByteVector stack = BuildTestPayload(plan);
  exe.insert(exe.end(), stack.begin(), stack.end());
  return exe;
}

// main.msi and its cabinet hold the payload's bytes, in the product's folder.
void ExpectExtracted(const std::string& folder, const TestPayloadSpec& plan) {
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"data1.cab", "main.msi"}));
  EXPECT_TRUE(ReadWholeFile(folder + "\\main.msi") == plan.packages[0].database) << folder;
  EXPECT_TRUE(ReadWholeFile(folder + "\\data1.cab") == plan.cabs[0].content) << folder;
}

// ---------------------------------------------------------------------------
// The stand-in msiexec: what the launcher passes, and what it makes of the
// exit code

enum class Registration { None, LauncherView, OtherView };

struct StandInCase {
  const char* name;
  std::wstring arguments;
  uint32_t exitCode;
  Registration registration;
  std::string passedOn;  // what follows the package path on msiexec's command line
  bool filesStay;
  bool tamper = false;  // msiexec first tries to change the files and the folder, as another process would
};

TEST(InstallationStandIn, MsiexecGetsThePackageAndTheArgumentsAndItsExitCodeEndsTheRun) {
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  WorkFolder work("stand-in");
  const StandInCase cases[] = {
      // Nothing after the package path: not even a space.
      {"NoArguments", L"", 0, Registration::None, "", true},
      // Spaces quote an argument, a tab does not; an empty argument stays one
      // (a second space); a quiet switch is passed on like any argument.
      {"SpaceTabEmptyAndQuiet", L"\"A B=1\" \"C\tD\" \"\" /q", 0, Registration::None, " \"A B=1\" C\tD  /q", true},
      {"Failed", L"", 1603, Registration::None, "", false},
      {"FailedButRegistered", L"", 1603, Registration::LauncherView, "", true},
      // Only the view of the launcher's own architecture counts.
      {"FailedRegisteredInTheOtherView", L"", 1603, Registration::OtherView, "", false},
      // A success that needs a restart is still a non-zero code.
      {"RestartRequired", L"REBOOT=ReallySuppress", 3010, Registration::None, " REBOOT=ReallySuppress", false},
      {"UserCancelledButRegistered", L"", 1602, Registration::LauncherView, "", true},
      // Held until msiexec has ended: nothing changes them, reading works;
      // released before the cleanup, which then deletes them.
      {"TamperedWithBeforeReading", L"", 1603, Registration::None, "", false, true},
  };
  for (const StandInCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string productCode = NewProductCode();
    const TestPayloadSpec plan = SpecFor(productCode);
    InstallerFolderGuard extraction(productCode);
    const std::string setup = work / (std::string(c.name) + ".exe");
    ASSERT_TRUE(WriteWholeFile(setup, SetupWithPayload(plan)));
    std::optional<PlantedRegistration> planted;
    if (c.registration != Registration::None)
      planted.emplace(productCode, c.registration == Registration::LauncherView ? LauncherView() : OtherView());
    msiexec.SetExitCode(c.exitCode);
    const std::string before = msiexec.CommandLines();
    const std::string tampered = work / "tampered.txt";
    SetEnvironmentVariableA("MSILAUNCH_FAKE_MSIEXEC_TAMPER", c.tamper ? tampered.c_str() : nullptr);

    const ChildRun run = RunSetup(setup, c.arguments);
    SetEnvironmentVariableA("MSILAUNCH_FAKE_MSIEXEC_TAMPER", nullptr);
    // Read in full: Wine's Unix exit status would keep 1603 & 0xFF only.
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(run.dialogs.empty()) << "msiexec has spoken to the user itself:\n" << Describe(run.dialogs);
    EXPECT_EQ(msiexec.CommandLines().substr(before.size()),
              SystemMsiexec() + " /i " + extraction.path + "\\main.msi" + c.passedOn + "\n");
    if (c.tamper) {
      const std::string denied = ": write denied, delete denied, rename denied, read ";
      EXPECT_EQ(FileText(tampered), "data1.cab" + denied + "5000 bytes\nmain.msi" + denied +
                                        "3000 bytes\nfolder: rename denied, remove denied\n");
    }
    if (c.filesStay) {
      ExpectExtracted(extraction.path, plan);
    } else {
      EXPECT_FALSE(Exists(extraction.path)) << "files and folder of an unregistered product go";
    }
  }
}

TEST(InstallationStandIn, CharactersOutsideTheCodePageArriveAsTheDefaultCharacter) {
  // A fullwidth quotation mark, which a best-fit conversion turns into '"',
  // a snowman, and an e with acute accent, which code page 1252 holds.
  if (!HasCodePage(1252)) GTEST_SKIP() << "expectations are written for code page 1252, not " << GetACP();
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  WorkFolder work("code-page");
  const std::string productCode = NewProductCode();
  InstallerFolderGuard extraction(productCode);
  const std::string setup = work / "setup.exe";
  ASSERT_TRUE(WriteWholeFile(setup, SetupWithPayload(SpecFor(productCode))));

  const ChildRun run = RunSetup(setup, L"\"\xFF02x y\xFF02\" \x2603 caf\x00E9");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(msiexec.CommandLines(),
            SystemMsiexec() + " /i " + extraction.path + "\\main.msi \"?x y?\" ? caf\xE9\n");
}

TEST(InstallationStandIn, OnlyTheSystemDirectorysMsiexecRuns) {
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  WorkFolder beside("planted-beside"), current("planted-current"), onPath("planted-path");
  const std::string productCode = NewProductCode();
  InstallerFolderGuard extraction(productCode);
  const std::string setup = beside / "setup.exe";
  ASSERT_TRUE(WriteWholeFile(setup, SetupWithPayload(SpecFor(productCode))));
  // Copies of the stand-in, each logging beside itself: where a search for
  // "msiexec.exe" looks before the system directory.
  const std::string standIn = Narrow(ToolsDirectory()) + "fake_msiexec.exe";
  for (const WorkFolder* folder : {&beside, &current, &onPath})
    ASSERT_TRUE(CopyFileA(standIn.c_str(), (*folder / "msiexec.exe").c_str(), FALSE)) << folder->path;
  char path[32768] = "";
  GetEnvironmentVariableA("PATH", path, sizeof path);
  SetEnvironmentVariableA("PATH", (onPath.path + ";" + path).c_str());

  const ChildRun run = RunSetup(setup, L"", current.path);
  SetEnvironmentVariableA("PATH", path);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(msiexec.CommandLines(), SystemMsiexec() + " /i " + extraction.path + "\\main.msi\n");
  for (const WorkFolder* folder : {&beside, &current, &onPath})
    EXPECT_FALSE(Exists(*folder / "fake_msiexec.log")) << "the msiexec.exe in " << folder->path << " ran";
}

TEST(InstallationStandIn, CancelInTheFolderBrowserLeavesNothingBehind) {
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  WorkFolder work("browser-cancel");
  const std::string productCode = NewProductCode();
  InstallerFolderGuard extraction(productCode);
  extraction.Block();
  const std::string setup = work / "setup.exe";
  ASSERT_TRUE(WriteWholeFile(setup, SetupWithPayload(SpecFor(productCode))));

  const ChildRun run = RunSetup(setup, L"", work.path);
  EXPECT_EQ(run.exitCode, 1223u);
  ASSERT_EQ(run.dialogs.size(), 1u) << "the browser, and no error box after it:\n" << Describe(run.dialogs);
  EXPECT_TRUE(run.dialogs[0].browser);
  EXPECT_EQ(msiexec.CommandLines(), "");
  EXPECT_EQ(FileText(extraction.path), "in the way");
  EXPECT_EQ(FolderEntries(work.path), std::vector<std::string>{"setup.exe"});
}

// ---------------------------------------------------------------------------
// RunLauncher in this process: its own file is a payload, its command line
// is the test's, and every dialog of this thread is answered inside the
// dialog's own modal loop (DialogWatch, tests/wine/browser_driver.h).

std::string ownModule;   // this program, which the launcher reads as its own file
std::string ownFile;     // the file it reads instead
std::wstring commandLine;

LPWSTR WINAPI FakeCommandLine() { return &commandLine[0]; }

HANDLE WINAPI RedirectOwnFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD attributes, HANDLE templateFile) {
  if (lstrcmpiA(path, ownModule.c_str()) == 0) path = ownFile.c_str();
  return kWin32Defaults.CreateFileA(path, access, share, security, disposition, attributes, templateFile);
}

struct DialogScript {
  std::deque<std::string> browse;  // folders to pick, one per browser; then Cancel
  std::vector<SeenDialog> seen;
  std::vector<bool> retryCancel;   // for each box: it asked Retry or Cancel
};
DialogScript* script = nullptr;

void AnswerDialog(HWND dialog) {
  if (!script) return;
  const SeenDialog seen = Read(dialog);
  script->seen.push_back(seen);
  if (seen.browser) {
    BrowserAnswer answer{BrowserAnswer::Cancel, ""};
    if (!script->browse.empty()) {
      answer = {BrowserAnswer::Choose, script->browse.front()};
      script->browse.pop_front();
    }
    AnswerFolderBrowser(dialog, answer);
    return;
  }
  const bool retry = GetDlgItem(dialog, IDRETRY) != nullptr;
  script->retryCancel.push_back(retry);
  const int answer = retry ? IDCANCEL : IDOK;
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, answer)));
}

// One in-process run's arrangement; the Win32 table is reset before and
// after, so the faults armed in between fire inside this run only.
struct InProcessRun {
  ScopedWin32Reset reset;
  DialogScript dialogs;
  std::optional<DialogWatch> watch;
  InProcessRun(const std::string& payloadFile, const std::wstring& line) {
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, sizeof module);
    ownModule = module;
    ownFile = payloadFile;
    commandLine = line;
    gWin32.GetCommandLineW = FakeCommandLine;
    gWin32.CreateFileA = RedirectOwnFile;
    script = &dialogs;
    watch.emplace(AnswerDialog);
  }
  ~InProcessRun() {
    watch.reset();
    script = nullptr;
  }
  InProcessRun(const InProcessRun&) = delete;
  InProcessRun& operator=(const InProcessRun&) = delete;
};

// The installation sequence alone over the same payload, for the pair that
// the exit code shows only half of.
struct SequenceRun {
  LauncherState state;
  RunReport report;
  explicit SequenceRun(const ByteVector& payload, const std::u16string& line = u"setup.exe") {
    BeginRun(&state);
    state.context.userLcid = GetUserDefaultLCID();
    state.context.isWow64 = ProbeWow64();
    EXPECT_EQ(LoadPayloads(payload.data(), static_cast<uint32_t>(payload.size()), &state.context.payloads).code, 0u);
    state.arguments = SplitCommandLine(line.c_str(), &state.argumentCount);
    report = RunInstallationSequence({&state.context, state.arguments, state.argumentCount, state.showCommand,
                                      state.string102, HasQuietSwitch(state.arguments, state.argumentCount)});
  }
  ~SequenceRun() { EndRun(&state); }
};

TEST(InstallationInProcess, ABrowsedFolderWithASpaceReachesMsiexecInQuotes) {
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  WorkFolder work("browsed");
  const std::string chosen = work / "with space";
  CreateDirectoryA(chosen.c_str(), nullptr);
  const std::string productCode = NewProductCode();
  const TestPayloadSpec plan = SpecFor(productCode);
  InstallerFolderGuard extraction(productCode);
  extraction.Block();
  ASSERT_TRUE(WriteWholeFile(work / "payload.bin", BuildTestPayload(plan)));

  InProcessRun run(work / "payload.bin", L"setup.exe REBOOT=R");
  run.dialogs.browse.push_back(chosen);
  EXPECT_EQ(RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL), 0u);
  const std::string product = chosen + "\\" + productCode;
  EXPECT_EQ(msiexec.CommandLines(), SystemMsiexec() + " /i \"" + product + "\\main.msi\" REBOOT=R\n");
  ASSERT_EQ(run.dialogs.seen.size(), 1u) << Describe(run.dialogs.seen);
  EXPECT_TRUE(run.dialogs.seen[0].browser);
  ExpectExtracted(product, plan);
  EXPECT_EQ(FileText(extraction.path), "in the way");
}

// A quiet run may have nobody to answer (a deployment running as SYSTEM):
// where it would show the folder browser or ask Retry/Cancel, it ends with
// the pair of a Cancel, showing nothing, leaving nothing.
TEST(InstallationInProcess, AQuietRunAsksNobody) {
  const struct {
    const char* name;
    const wchar_t* line;
    bool blockInstaller;  // the Installer attempt fails: the browser would open
    const char* call;     // a Win32 entry failing on its first call, or null
    uint32_t code, line_;
  } cases[] = {
      {"NoBrowser", L"setup.exe /qn", true, nullptr, 1223, 2219},
      {"NoRetryCancel", L"setup.exe /QUIET", false, "WriteFile", 29, 2280},
      {"NoRetryCancelUnderQ", L"setup.exe REBOOT=R /q", false, "WriteFile", 29, 2280},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedStandInMsiexec msiexec(0);
    ASSERT_TRUE(msiexec.ready());
    WorkFolder work(c.name);
    const std::string productCode = NewProductCode();
    const ByteVector payload = BuildTestPayload(SpecFor(productCode));
    InstallerFolderGuard extraction(productCode);
    if (c.blockInstaller) extraction.Block();
    ASSERT_TRUE(WriteWholeFile(work / "payload.bin", payload));
    InProcessRun run(work / "payload.bin", c.line);
    if (c.call) {
      ASSERT_TRUE(FailWin32Call(c.call, 1, ERROR_DISK_FULL));
    }
    EXPECT_EQ(RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL), c.code);
    EXPECT_TRUE(run.dialogs.seen.empty()) << Describe(run.dialogs.seen);
    EXPECT_EQ(msiexec.CommandLines(), "");
    if (!c.blockInstaller) {
      EXPECT_FALSE(Exists(extraction.path));
    }

    ScopedWin32Reset reset;
    if (c.call) {
      ASSERT_TRUE(FailWin32Call(c.call, 1, ERROR_DISK_FULL));
    }
    const std::wstring wide(c.line);
    SequenceRun sequence(payload, std::u16string(wide.begin(), wide.end()));
    EXPECT_EQ(sequence.report.pair.code, c.code);
    EXPECT_EQ(sequence.report.pair.line, c.line_);
    EXPECT_EQ(sequence.report.box, BoxText::None);
  }
}

// Failures after the files were made: nothing of the unregistered product
// stays, and msiexec runs at most the once that failed.
struct LateFailureCase {
  const char* name;
  const char* call;  // the Win32 entry that fails, on its first call
  uint32_t error;
  uint32_t code;
  uint32_t line;
  bool errorBox;  // else only the progress window's Retry/Cancel box
};

std::string SystemText(uint32_t code) {
  char text[512] = "";
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, sizeof text, nullptr);
  std::string trimmed(text, length);
  trimmed.erase(trimmed.find_last_not_of(". \r\n") + 1);
  return trimmed;
}

TEST(InstallationInProcess, AFailureAfterTheFilesWereMadeLeavesNothingBehind) {
  const LateFailureCase cases[] = {
      {"MsiexecNotStarted", "CreateProcessA", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 2355, true},
      {"WriteFailedThenCancel", "WriteFile", ERROR_DISK_FULL, 29, 2280, false},
  };
  ASSERT_FALSE(SystemText(ERROR_ACCESS_DENIED).empty());
  for (const LateFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedStandInMsiexec msiexec(0);
    ASSERT_TRUE(msiexec.ready());
    WorkFolder work(c.name);
    const std::string productCode = NewProductCode();
    const ByteVector payload = BuildTestPayload(SpecFor(productCode));
    InstallerFolderGuard extraction(productCode);
    ASSERT_TRUE(WriteWholeFile(work / "payload.bin", payload));
    {
      InProcessRun run(work / "payload.bin", L"setup.exe");
      ASSERT_TRUE(FailWin32Call(c.call, 1, c.error));
      EXPECT_EQ(RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL), c.code);
      EXPECT_TRUE(Win32FaultFired());
      EXPECT_EQ(Win32CallCount("CreateProcessA"), c.errorBox ? 1u : 0u);
      const std::vector<SeenDialog>& boxes = run.dialogs.seen;
      ASSERT_EQ(boxes.size(), 1u) << Describe(boxes);
      if (c.errorBox) {
        EXPECT_EQ(run.dialogs.retryCancel, std::vector<bool>{false});
        EXPECT_EQ(boxes[0].caption, ownModule.substr(ownModule.rfind('\\') + 1));
        EXPECT_EQ(boxes[0].text, SystemText(c.error) + " (" + SystemMsiexec() + ").");
      } else {
        // The window's own question, and no error box after the Cancel.
        EXPECT_EQ(run.dialogs.retryCancel, std::vector<bool>{true});
        EXPECT_EQ(boxes[0].caption, "Sample Product");
        EXPECT_EQ(boxes[0].text, SystemText(29) + " (" + extraction.path + "\\main.msi).");
      }
    }
    EXPECT_EQ(msiexec.CommandLines(), "");
    EXPECT_FALSE(Exists(extraction.path)) << "files and folder of an unregistered product go";

    // The site, which the exit code does not show.
    InProcessRun again(work / "payload.bin", L"setup.exe");
    ASSERT_TRUE(FailWin32Call(c.call, 1, c.error));
    SequenceRun sequence(payload);
    EXPECT_EQ(sequence.report.pair.code, c.code);
    EXPECT_EQ(sequence.report.pair.line, c.line);
    EXPECT_EQ(sequence.report.box, c.errorBox ? BoxText::MsiexecSystemText : BoxText::None);
    EXPECT_EQ(std::string(sequence.report.msiexecPath), SystemMsiexec());
    EXPECT_FALSE(Exists(extraction.path));
  }
}

// ---------------------------------------------------------------------------
// Wine's real msiexec installing the packages of make-installation-packages

// The setups made at build time, or others made the same way (by the
// Windows packer under Wine) where MSILAUNCH_INSTALLATION_DIR names them.
std::string Package(const std::string& name) {
  char folder[1024] = "";
  const DWORD size = GetEnvironmentVariableA("MSILAUNCH_INSTALLATION_DIR", folder, sizeof folder);
  const std::string base = size > 0 && size < sizeof folder ? folder : MSILAUNCH_INSTALLATION_DIR;
  return WindowsPath(base + "/" + name);
}

// Where a package of the launcher's architecture installs to.
std::string ProgramFiles() {
  char folder[MAX_PATH] = "";
  const char* names[] = {"ProgramW6432", "ProgramFiles(x86)", "ProgramFiles"};
  for (const char* name : RunsUnderWow64() ? std::vector<const char*>{names[0]}
                                           : std::vector<const char*>{names[1], names[2]})
    if (GetEnvironmentVariableA(name, folder, sizeof folder) > 0) break;
  return folder;
}

uint32_t RunRealMsiexec(const std::wstring& arguments) {
  std::string output;
  uint32_t code = 0xDEADBEEF;
  EXPECT_TRUE(RunProgram(L"\"" + Widen(SystemMsiexec()) + L"\" " + arguments, &output, &code)) << output;
  return code;
}

// Whatever a test installed goes again: uninstalled by the real msiexec,
// its extraction and installation folders removed.
struct InstalledProductGuard {
  std::string productCode, installFolder;
  InstalledProductGuard(const std::string& code, const std::string& folder) : productCode(code), installFolder(folder) {
    RestoreSystemMsiexec();  // a stand-in left by a test that crashed
    Remove();
  }
  ~InstalledProductGuard() { Remove(); }
  void Remove() {
    if (!UninstallString(productCode, LauncherView()).empty()) RunRealMsiexec(L"/x " + Widen(productCode) + L" /qn");
    RemoveTree(InstallerFolder(productCode));
    RemoveTree(installFolder);
  }
};

struct LocaleCase {
  const char* locale;  // the LC_ALL of its CTest entry
  LANGID language;     // the user locale's language identifier Wine makes of it
  const char* label;   // the package chosen: German (1031), English (3081), US English (1033)
  const char* folder;  // its files in make-installation-packages' output
};

const LocaleCase kLocaleCases[] = {
    {"de_DE", 0x0407, "German", "German"},          // exactly
    {"de_CH", 0x0807, "German", "German"},          // by language
    {"en_GB", 0x0809, "English", "English"},        // by language: 3081 is the first English entry
    {"es_ES", 0x0C0A, "US English", "USEnglish"},   // US English, the fallback
    {"ja_JP", 0x0411, "US English", "USEnglish"},   // likewise
};

TEST(InstallationRealMsiexec, InstallsThePackageOfTheUsersLocale) {
  const char* wanted = std::getenv("MSILAUNCH_LOCALE_CASE");
  if (!wanted) GTEST_SKIP() << "runs in the entries that set LC_ALL and MSILAUNCH_LOCALE_CASE";
  const LocaleCase* c = nullptr;
  for (const LocaleCase& candidate : kLocaleCases)
    if (std::strcmp(candidate.locale, wanted) == 0) c = &candidate;
  ASSERT_NE(c, nullptr) << "no case " << wanted;
  ASSERT_EQ(LANGIDFROMLCID(GetUserDefaultLCID()), c->language) << "LC_ALL did not reach Wine's user locale";

  const std::string productCode = RunsUnderWow64() ? kLanguagesX64 : kLanguagesIntel;
  const std::string installed = ProgramFiles() + "\\msilaunch e2e languages";
  InstalledProductGuard guard(productCode, installed);
  ASSERT_EQ(UninstallString(productCode, LauncherView()), "");

  const ChildRun run = RunSetup(Package("languages.exe"), L"/qn");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.dialogs.empty()) << Describe(run.dialogs);
  const std::string package = Package("packages/" + std::string(ThisArchitecture()) + "-" + c->folder);
  const std::string extraction = InstallerFolder(productCode);
  EXPECT_EQ(FolderEntries(extraction), (std::vector<std::string>{"data1.cab", "main.msi"}));
  EXPECT_TRUE(ReadWholeFile(extraction + "\\main.msi") == ReadWholeFile(package + "\\package.msi"))
      << "not the " << c->label << " package";
  EXPECT_TRUE(ReadWholeFile(extraction + "\\data1.cab") == ReadWholeFile(package + "\\data1.cab"));
  EXPECT_NE(UninstallString(productCode, LauncherView()), "") << "not registered in the launcher's view";
  EXPECT_EQ(FileText(installed + "\\language.txt"), c->label);
  EXPECT_TRUE(Exists(installed + "\\app.bin"));

  EXPECT_EQ(RunRealMsiexec(L"/x " + Widen(productCode) + L" /qn"), 0u);
  EXPECT_EQ(UninstallString(productCode, LauncherView()), "");
  EXPECT_FALSE(Exists(installed + "\\language.txt"));
}

TEST(InstallationRealMsiexec, AFailedLaunchConditionLeavesNothingBehind) {
  const std::string productCode = RunsUnderWow64() ? kConditionX64 : kConditionIntel;
  const std::string installed = ProgramFiles() + "\\msilaunch e2e condition";
  InstalledProductGuard guard(productCode, installed);

  const ChildRun run = RunSetup(Package("condition.exe"), L"/qn");
  EXPECT_EQ(run.exitCode, 1603u);
  EXPECT_TRUE(run.dialogs.empty()) << Describe(run.dialogs);
  EXPECT_FALSE(Exists(InstallerFolder(productCode))) << "files and folder of an unregistered product go";
  EXPECT_EQ(UninstallString(productCode, LauncherView()), "");
  EXPECT_EQ(UninstallString(productCode, OtherView()), "");
  EXPECT_FALSE(Exists(installed));
}

}  // namespace
