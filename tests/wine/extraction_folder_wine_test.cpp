// The extraction folder on real files, the real registry and the real folder
// browser under Xvfb, answered from the test's own thread inside the
// browser's modal loop (tests/wine/browser_driver.h).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/win32_calls.h"
// After windows.h, which it needs.
#include <sddl.h>
#include "package/file_set.h"
#include "package/file_writer.h"
#include "tests/wine/browser_driver.h"
#include "tests/wine/code_page.h"
#include "tests/wine/scratch_folder.h"
#include "tests/wine/win32_faults.h"
#include "tests/wine/wine_process.h"
#include "ui/extraction_folder_win32.h"

namespace {

constexpr char kTitle[] = "Select a folder where you want to extract the installation files:";
constexpr char kTestDrive[] = "Q:";  // mapped by map-test-drive for these tests
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// ---------------------------------------------------------------------------
// Files and folders

void Plant(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << ": " << GetLastError();
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

// A fresh folder under the temporary folder, removed again with its content.
struct TempFolder : ScratchFolder {
  explicit TempFolder(const std::string& name) : ScratchFolder("msilaunch-ef", name) {}
};

std::string InstallerFolder() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows) + "\\Installer";
}

// A plain file where the product folder would be in the Installer folder:
// the first attempt fails there for real.
struct BlockedInstaller {
  std::string path;
  explicit BlockedInstaller(const std::string& productCode) : path(InstallerFolder() + "\\" + productCode) {
    CreateDirectoryA(InstallerFolder().c_str(), nullptr);
    Plant(path, "in the way");
  }
  ~BlockedInstaller() { RemoveTree(path); }
};

// ---------------------------------------------------------------------------
// A file set as BuildFileSet leaves it: names and data, no paths or handles.

struct TestItem {
  std::string name;
  std::string data;
};

struct TestSet {
  FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
  explicit TestSet(const std::vector<TestItem>& items) {
    set.items = static_cast<FileItem*>(
        platform::AllocBlock(static_cast<uint32_t>(items.size() * sizeof(FileItem)), kBlockZeroed));
    for (const TestItem& t : items) {
      FileItem& item = set.items[set.count++];
      snprintf(item.name, sizeof item.name, "%s", t.name.c_str());
      item.size = static_cast<uint32_t>(t.data.size());
      item.data = static_cast<uint8_t*>(platform::AllocBlock(item.size ? item.size : 1, 0));
      memcpy(item.data, t.data.data(), item.size);
    }
  }
  ~TestSet() {
    ReleaseFileSet(&set);
    ReleaseHeldFolders(&held);
  }
  HeldFolders held{};  // the base folder's path, held by a successful attempt
  FileItem& operator[](int i) { return set.items[i]; }
};

std::vector<TestItem> ThreeItems() {
  return {{"main.msi", "database"}, {"a.cab", "cabinet a"}, {"b.cab", "cabinet b"}};
}

// After a cancel: nothing of the set points anywhere.
void ExpectNothingHeld(TestSet& s) {
  EXPECT_EQ(s.set.folder, nullptr);
  for (int i = 0; i < s.set.count; ++i) {
    EXPECT_EQ(s[i].handle, nullptr) << s[i].name;
    EXPECT_EQ(s[i].held, nullptr) << s[i].name;
    EXPECT_EQ(s[i].written, 0u) << s[i].name;
    EXPECT_STREQ(s[i].path, "") << s[i].name;
  }
}

// Every item in `folder`, created empty and open, or kept when `kept` names it.
void ExpectCreatedIn(TestSet& s, const std::string& folder, const std::set<std::string>& kept = {}) {
  for (int i = 0; i < s.set.count; ++i) {
    EXPECT_EQ(std::string(s[i].path), folder + "\\" + s[i].name);
    if (kept.count(s[i].name)) {
      EXPECT_EQ(s[i].handle, nullptr) << s[i].name;
      EXPECT_NE(s[i].held, nullptr) << s[i].name;
    } else {
      EXPECT_NE(s[i].handle, nullptr) << s[i].name;
      EXPECT_EQ(FileText(s[i].path), "") << s[i].name;
    }
  }
}

// ---------------------------------------------------------------------------
// Answering the real folder browser

using Answer = BrowserAnswer;

std::deque<Answer> answers;
std::function<void()> onBrowserOpen;  // checks the state at the moment the browser shows
int browsersOpened;
bool titleShown;

BOOL CALLBACK FindTitle(HWND child, LPARAM) {
  char text[256] = {};
  GetWindowTextA(child, text, sizeof text);
  if (strcmp(text, kTitle) == 0) titleShown = true;
  return TRUE;
}

void AnswerBrowser(HWND browser) {
  ++browsersOpened;
  EnumChildWindows(browser, FindTitle, 0);
  if (onBrowserOpen) onBrowserOpen();
  const Answer answer = answers.empty() ? Answer{Answer::Cancel, ""} : answers.front();
  if (!answers.empty()) answers.pop_front();
  AnswerFolderBrowser(browser, answer);
}

// Answers the browsers of this thread in order; any browser beyond the
// answers is cancelled, so that a test never waits for a user.
struct BrowserDriver {
  DialogWatch watch{AnswerBrowser};
  explicit BrowserDriver(std::deque<Answer> given, std::function<void()> check = nullptr) {
    answers = std::move(given);
    onBrowserOpen = std::move(check);
    browsersOpened = 0;
    titleShown = false;
  }
  ~BrowserDriver() { onBrowserOpen = nullptr; }
};

// The browser's start folder comes from the current directory: the shell's
// function and the registry's key are not found. Keeps the user's real
// documents folder out of the tests.
FARPROC(WINAPI* lookUp)(HMODULE, LPCSTR);
FARPROC WINAPI LookUpWithoutSpecialFolders(HMODULE module, LPCSTR name) {
  FARPROC found = lookUp(module, name);
  const bool byName = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
  return byName && strcmp(name, "SHGetSpecialFolderPathA") == 0 ? nullptr : found;
}
LSTATUS(WINAPI* openKey)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
LSTATUS WINAPI OpenKeyWithoutShellFolders(HKEY key, LPCSTR name, DWORD options, REGSAM access, PHKEY result) {
  if (strcmp(name, kShellFoldersKey) == 0) return ERROR_FILE_NOT_FOUND;
  return openKey(key, name, options, access, result);
}

struct StartFolderIsCurrentDirectory {
  char saved[MAX_PATH];
  explicit StartFolderIsCurrentDirectory(const std::string& folder) {
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(folder.c_str());
    lookUp = gWin32.GetProcAddress;
    gWin32.GetProcAddress = LookUpWithoutSpecialFolders;
    openKey = gWin32.RegOpenKeyExA;
    gWin32.RegOpenKeyExA = OpenKeyWithoutShellFolders;
  }
  ~StartFolderIsCurrentDirectory() {
    gWin32.GetProcAddress = lookUp;
    gWin32.RegOpenKeyExA = openKey;
    SetCurrentDirectoryA(saved);
  }
};

class ExtractionFolderWine : public testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    SeeSecurityAs();
  }
  void TearDown() override { CoUninitialize(); }
  ScopedWin32Reset reset;
  char folder[kFolderPathSize] = {};
  std::string productCode = NewProductCode();

  ErrorPair Prepare(TestSet& s, uint32_t unattended = 0) {
    return PrepareExtractionFolder(&s.set, &s.held, productCode.c_str(), kTitle, unattended, folder);
  }
};

// ---------------------------------------------------------------------------
// The Installer folder

TEST_F(ExtractionFolderWine, CreatesEveryFileEmptyAndOpenInTheInstallerFolder) {
  TestSet s(ThreeItems());
  const ErrorPair pair = Prepare(s);
  const std::string expected = InstallerFolder() + "\\" + productCode;
  EXPECT_EQ(pair.code, 0u);
  EXPECT_EQ(std::string(folder), expected);
  ExpectCreatedIn(s, expected);
  ReleaseFileSet(&s.set);
  RemoveTree(expected);
}

struct PlantedCase {
  const char* name;
  std::string data;     // main.msi's verified content
  std::string planted;  // what lies in the folder before
  bool kept;
  bool link = false;  // the attribute query calls the planted file a link
};

// Wine shows a Unix link to a file as a plain file, and its calls delete or
// move such a link's target, never the link: a plain file that the attribute
// query calls a link stands in for one.
std::string linkPath;
DWORD WINAPI AttributesWithLink(LPCSTR path) {
  const DWORD attributes = kWin32Defaults.GetFileAttributesA(path);
  const bool link = linkPath == path && attributes != INVALID_FILE_ATTRIBUTES;
  return link ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
}

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 131 + i / 977);
  return text;
}

TEST_F(ExtractionFolderWine, AFileAlreadyThereIsKeptOnlyWithTheVerifiedBytes) {
  const std::string big = Pattern(100000);  // several reads of the comparison
  std::string bigChangedAtEnd = big;
  bigChangedAtEnd.back() ^= 1;
  const PlantedCase cases[] = {
      {"EqualBytes", "database", "database", true},
      {"BothEmpty", "", "", true},
      {"EqualAcrossReads", big, big, true},
      {"DifferentLastByteAcrossReads", big, bigChangedAtEnd, false},
      {"SameSizeOtherBytes", "database", "DATABASE", false},
      {"PlantedShorter", "database", "data", false},
      {"PlantedLonger", "database", "database and more", false},
      {"PlantedEmpty", "database", "", false},
      {"VerifiedBytesBehindALink", "database", "database", false, true},  // removed, made anew
  };
  for (const PlantedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string product = InstallerFolder() + "\\" + productCode;
    CreateDirectoryA(product.c_str(), nullptr);
    Plant(product + "\\main.msi", c.planted);
    linkPath = c.link ? product + "\\main.msi" : "";
    gWin32.GetFileAttributesA = AttributesWithLink;
    TestSet s({{"main.msi", c.data}, {"a.cab", "cabinet"}});
    std::memset(folder, 0, sizeof folder);
    EXPECT_EQ(Prepare(s).code, 0u);
    ExpectCreatedIn(s, product, c.kept ? std::set<std::string>{"main.msi"} : std::set<std::string>{});
    EXPECT_EQ(FileText(product + "\\main.msi"), c.kept ? c.planted : "");
    ReleaseFileSet(&s.set);
    RemoveTree(product);
  }
}

TEST_F(ExtractionFolderWine, ARepeatedNameIsWrittenOnceAndOnlyWithTheSameBytes) {
  TestSet same({{"main.msi", "database"}, {"a.cab", "cabinet"}, {"a.cab", "cabinet"}});
  EXPECT_EQ(Prepare(same).code, 0u);
  EXPECT_NE(same[1].handle, nullptr);
  EXPECT_EQ(same[2].handle, nullptr);  // complete once item 1 is written
  EXPECT_EQ(std::string(same[2].path), std::string(same[1].path));
  ReleaseFileSet(&same.set);
  RemoveTree(folder);

  // Two contents for one file: whichever were written, the other would be lost.
  TempFolder start("clash-start");
  TestSet clash({{"main.msi", "database"}, {"a.cab", "cabinet"}, {"a.cab", "other cabinet"}});
  BrowserDriver driver({});
  StartFolderIsCurrentDirectory startFolder(start.path);
  std::memset(folder, 0, sizeof folder);
  const ErrorPair pair = Prepare(clash);
  EXPECT_EQ(pair.code, 1223u);
  EXPECT_EQ(browsersOpened, 1);
  ExpectNothingHeld(clash);
  EXPECT_FALSE(Exists(InstallerFolder() + "\\" + productCode));
}

// A Unix link to a folder where the product folder would be, which Wine shows
// as a reparse point: the attempt fails before anything lands in the target.
TEST_F(ExtractionFolderWine, AProductFolderThatIsALinkIsNeverWrittenThrough) {
  TempFolder base("link-base"), target("link-target");
  Plant(target / "before", "kept");
  const std::string installer = InstallerFolder() + "\\" + productCode;
  ASSERT_TRUE(MakeUnixLink(target.path, installer));
  TestSet s(ThreeItems());
  {
    BrowserDriver driver({{Answer::Choose, base.path}});
    StartFolderIsCurrentDirectory start(base.path);
    EXPECT_EQ(Prepare(s).code, 0u);
    EXPECT_EQ(browsersOpened, 1);
  }
  ExpectCreatedIn(s, base / productCode);
  EXPECT_EQ(FolderEntries(target.path), std::vector<std::string>{"before"});
  EXPECT_EQ(FileText(target / "before"), "kept");
  EXPECT_TRUE(GetFileAttributesA(installer.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "the link stays";
  ReleaseFileSet(&s.set);
  RemoveUnixLink(installer);
}

// ---------------------------------------------------------------------------
// Who can change the product folder, and the path above it

NTSTATUS(WINAPI* createRelative)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                 ULONG, ULONG, ULONG, PVOID, ULONG);
std::string createdFolderSddl;
NTSTATUS WINAPI RecordFolderSecurity(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                     PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG attributes,
                                     ULONG share, ULONG disposition, ULONG options, PVOID eaBuffer, ULONG eaLength) {
  char* text = nullptr;
  if ((options & FILE_DIRECTORY_FILE) && object->SecurityDescriptor &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          object->SecurityDescriptor, SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
    createdFolderSddl = text;
    LocalFree(text);
  }
  return createRelative(file, access, object, status, allocation, attributes, share, disposition, options, eaBuffer,
                        eaLength);
}

// Wine keeps no descriptor, so the one the folder is made with is read as
// the system's own SDDL conversion reads it.
TEST_F(ExtractionFolderWine, AProductFolderItMakesOnlyAdministratorsCanChange) {
  createdFolderSddl.clear();
  createRelative = gWin32.NtCreateFile;
  gWin32.NtCreateFile = RecordFolderSecurity;
  TestSet s(ThreeItems());
  ASSERT_EQ(Prepare(s).code, 0u);
  EXPECT_EQ(createdFolderSddl, kLauncherFolderSddl);
  ReleaseFileSet(&s.set);
  RemoveTree(folder);
}

// A folder that is there already: used only as the launcher itself leaves
// one. Run unattended, a refused Installer attempt ends at once, with the
// pair of a cancelled browser and no browser shown.
TEST_F(ExtractionFolderWine, AnExistingProductFolderOthersCanChangeIsRefused) {
  const struct {
    const char* name;
    const char* sddl;  // what GetSecurityInfo answers; null: Wine's own answer
    bool taken;
  } cases[] = {
      {"AsTheLauncherLeavesIt", kLauncherFolderSddl, true},
      {"OwnedByWinesUser", nullptr, false},
      {"UsersMayAddFiles", "O:BAG:BAD:P(A;OICI;FA;;;BA)(A;OICI;0x1200af;;;BU)", false},
      {"AuthenticatedUsersMayModify", "O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)", false},
      {"OwnedByAnotherUser", "O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string product = InstallerFolder() + "\\" + productCode;
    CreateDirectoryA(product.c_str(), nullptr);
    Plant(product + "\\main.msi", "database");  // the verified bytes, planted by someone else
    ScopedWin32Reset reset;
    if (c.sddl) SeeSecurityAs(c.sddl);
    TestSet s(ThreeItems());
    std::memset(folder, 0, sizeof folder);
    const ErrorPair pair = Prepare(s, 1);
    EXPECT_EQ(pair.code, c.taken ? 0u : 1223u);
    EXPECT_EQ(pair.line, c.taken ? 0u : 2219u);
    if (!c.taken) {
      ExpectNothingHeld(s);
      EXPECT_EQ(FolderEntries(product), std::vector<std::string>{"main.msi"}) << "nothing written into it";
    }
    ReleaseFileSet(&s.set);
    ReleaseHeldFolders(&s.held);
    RemoveTree(product);
  }
}

// A folder above the browsed one that is a link (a Unix link, which Wine
// shows as a reparse point, stands for a junction): the whole path is held
// from the drive root, so the attempt fails before anything lands behind it.
TEST_F(ExtractionFolderWine, ALinkAboveTheBrowsedFolderFailsTheAttempt) {
  TempFolder temp("link-above");
  const std::string real = temp / "real", linked = temp / "linked";
  CreateDirectoryA(real.c_str(), nullptr);
  CreateDirectoryA((real + "\\sub").c_str(), nullptr);
  ASSERT_TRUE(MakeUnixLink(real, linked));
  BlockedInstaller blocked(productCode);
  TestSet s(ThreeItems());
  {
    BrowserDriver driver({{Answer::Choose, linked + "\\sub"}, {Answer::Cancel, ""}});
    StartFolderIsCurrentDirectory start(temp.path);
    const ErrorPair pair = Prepare(s);
    EXPECT_EQ(pair.code, 1223u);
    EXPECT_EQ(browsersOpened, 2);
  }
  ExpectNothingHeld(s);
  EXPECT_EQ(FolderEntries(real + "\\sub"), std::vector<std::string>{});
  RemoveUnixLink(linked);
}

// ---------------------------------------------------------------------------
// Failed attempts

TEST_F(ExtractionFolderWine, TheSecondOfThreeFilesFailingRollsBackTheAttempt) {
  TempFolder base("rollback");
  TestSet s(ThreeItems());
  for (int i = 0; i < 3; ++i) s[i].written = 5;
  const std::string installer = InstallerFolder() + "\\" + productCode;
  BrowserDriver driver({{Answer::Choose, base.path}}, [&] {
    EXPECT_FALSE(Exists(installer + "\\b.cab")) << "the third file is never touched";
    EXPECT_FALSE(Exists(installer + "\\main.msi"));
    EXPECT_FALSE(Exists(installer)) << "the empty product folder goes";
    ExpectNothingHeld(s);
  });
  StartFolderIsCurrentDirectory start(base.path);
  // Relative to the folder above: Windows, Installer, the product folder, then
  // for each file a look for one already there and its creation.
  ASSERT_TRUE(FailWin32Call("NtCreateFile", 7, ERROR_ACCESS_DENIED));

  EXPECT_EQ(Prepare(s).code, 0u);
  EXPECT_EQ(browsersOpened, 1);
  EXPECT_TRUE(titleShown);
  EXPECT_EQ(std::string(folder), base / productCode);
  ExpectCreatedIn(s, base / productCode);
}

TEST_F(ExtractionFolderWine, AFileFromBeforeSurvivesAFailedAttempt) {
  TempFolder start("survivor-start");
  const std::string installer = InstallerFolder() + "\\" + productCode;
  CreateDirectoryA(installer.c_str(), nullptr);
  Plant(installer + "\\main.msi", "database");
  TestSet s(ThreeItems());
  BrowserDriver driver({{Answer::Cancel, ""}}, [&] {
    EXPECT_EQ(FileText(installer + "\\main.msi"), "database");
    EXPECT_FALSE(Exists(installer + "\\a.cab"));
  });
  StartFolderIsCurrentDirectory startFolder(start.path);
  // Relative opens: Windows, Installer, the product folder, main.msi for the
  // comparison, a.cab looked for and created, b.cab looked for and refused.
  ASSERT_TRUE(FailWin32Call("NtCreateFile", 8, ERROR_DISK_FULL));

  const ErrorPair pair = Prepare(s);
  EXPECT_EQ(pair.code, 1223u);
  EXPECT_EQ(pair.line, 2219u);
  EXPECT_STREQ(folder, "");
  ExpectNothingHeld(s);
  EXPECT_EQ(FolderEntries(installer), std::vector<std::string>{"main.msi"});
  RemoveTree(installer);
}

// ---------------------------------------------------------------------------
// The real folder browser, after the Installer folder failed for real

struct BrowseCase {
  const char* name;
  std::vector<Answer> answers;  // paths relative to the case's folder unless they hold a colon
  std::string base;             // expected base folder; empty: cancelled
  int browsers;
};

TEST_F(ExtractionFolderWine, TheBrowserPicksTheBaseFolder) {
  ASSERT_TRUE(GetLogicalDrives() & (1u << (kTestDrive[0] - 'A'))) << kTestDrive << " is mapped by map-test-drive";
  const BrowseCase cases[] = {
      {"FolderWithASpace", {{Answer::Choose, "with space"}}, "with space", 1},
      {"DriveRoot", {{Answer::Choose, std::string(kTestDrive) + "\\"}}, kTestDrive, 1},
      {"StartFolderKept", {{Answer::KeepDefault, ""}}, "start", 1},
      {"ItemWithoutAPathThenAFolder", {{Answer::ChooseMyComputer, ""}, {Answer::Choose, "plain"}}, "plain", 2},
      {"Cancel", {{Answer::Cancel, ""}}, "", 1},
  };
  for (const BrowseCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder cased(c.name);
    for (const char* sub : {"with space", "start", "plain"}) CreateDirectoryA((cased / sub).c_str(), nullptr);
    auto inCase = [&](const std::string& path) { return path.find(':') == std::string::npos ? cased / path : path; };
    std::deque<Answer> given;
    for (Answer a : c.answers) given.push_back({a.kind, inCase(a.path)});

    productCode = NewProductCode();
    BlockedInstaller blocked(productCode);
    TestSet s(ThreeItems());
    std::memset(folder, 0, sizeof folder);
    {
      BrowserDriver driver(given);
      StartFolderIsCurrentDirectory start(cased / "start");
      const ErrorPair pair = Prepare(s);
      EXPECT_EQ(browsersOpened, c.browsers);
      EXPECT_TRUE(titleShown);
      if (c.base.empty()) {
        EXPECT_EQ(pair.code, 1223u);
        EXPECT_EQ(pair.line, 2219u);
        EXPECT_STREQ(folder, "");
        ExpectNothingHeld(s);
        EXPECT_EQ(FileText(blocked.path), "in the way");
        EXPECT_EQ(FolderEntries(cased / "start"), std::vector<std::string>{});
      } else {
        EXPECT_EQ(pair.code, 0u);
        const std::string product = inCase(c.base) + "\\" + productCode;
        EXPECT_EQ(std::string(folder), product);
        ExpectCreatedIn(s, product);
      }
    }
    ReleaseFileSet(&s.set);
    RemoveTree(std::string(kTestDrive) + "\\" + productCode);
  }
}

// A browsed item whose conversion fails or leaves no rooted path is refused:
// the browser comes again, and nothing is made relative to the current
// directory or drive.
const char* fakePath;
BOOL WINAPI ConvertTo(PCIDLIST_ABSOLUTE, LPSTR path) {
  strcpy(path, fakePath);
  return TRUE;
}

TEST_F(ExtractionFolderWine, ABrowsedItemWithoutAFolderPathAsksAgain) {
  const struct {
    const char* name;
    const char* converted;  // null: the conversion fails
  } cases[] = {{"ConversionFails", nullptr}, {"Empty", ""}, {"Relative", "relative"},
               {"DriveRelative", "C:relative"}, {"RootOfTheCurrentDrive", "\\"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder cwd("no-path");
    ScopedWin32Reset reset;
    productCode = NewProductCode();
    BlockedInstaller blocked(productCode);
    TestSet s(ThreeItems());
    std::memset(folder, 0, sizeof folder);
    BrowserDriver driver({{Answer::Choose, cwd.path}});
    StartFolderIsCurrentDirectory start(cwd.path);
    if (c.converted) {
      fakePath = c.converted;
      gWin32.SHGetPathFromIDListA = ConvertTo;
    } else {
      ASSERT_TRUE(FailWin32Call("SHGetPathFromIDListA", 1, 0));
    }
    EXPECT_EQ(Prepare(s).code, 1223u);
    EXPECT_EQ(browsersOpened, 2);
    EXPECT_EQ(FolderEntries(cwd.path), std::vector<std::string>{});
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_FALSE(Exists(std::string(current, 2) + "\\" + productCode)) << "under the current drive's root";
  }
}

TEST_F(ExtractionFolderWine, PathsBeyondTheirBuffersFailTheAttempt) {
  TempFolder base("too-long"), startIn("too-long-start");  // a current directory could not be removed
  const std::string fitsAtTheRootOnly(210, 'n');  // Installer\{code}\ is 60 characters, Q:\{code}\ 42
  struct {
    const char* name;
    std::string productCode;
    std::string itemName;
    bool fitsAtTheRoot;
    bool folderFits;  // main.msi is then created in each attempt before the long name fails
  } cases[] = {
      {"ItemPathBeyond260InTheInstallerFolder", NewProductCode(), fitsAtTheRootOnly + ".cab", true, true},
      {"ItemPathBeyond260Everywhere", NewProductCode(), std::string(250, 'n'), false, true},
      {"FolderPathBeyond1023", std::string(1100, 'p'), "a.cab", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    productCode = c.productCode;
    TestSet s({{"main.msi", "database"}, {c.itemName, "cabinet"}});
    std::memset(folder, 0, sizeof folder);
    ScopedWin32Reset reset;
    BrowserDriver driver({{Answer::Choose, std::string(kTestDrive) + "\\"}, {Answer::Choose, base.path}}, [&] {
      // No file is made at a cut path; no base folder is taken for the product's.
      // Where the folder fits, each attempt holds its path from the drive root.
      EXPECT_EQ(Win32CallCount("CreateFileA"), c.folderFits ? browsersOpened : 0u);
      EXPECT_EQ(Win32CallCount("NtCreateFile") == 0, !c.folderFits);
      EXPECT_TRUE(Exists(base.path));
      EXPECT_TRUE(Exists(InstallerFolder()));
      ExpectNothingHeld(s);
    });
    StartFolderIsCurrentDirectory start(startIn.path);
    const ErrorPair pair = Prepare(s);
    if (c.fitsAtTheRoot) {
      EXPECT_EQ(pair.code, 0u);
      EXPECT_EQ(browsersOpened, 1);
      ExpectCreatedIn(s, std::string(kTestDrive) + "\\" + productCode);
    } else {
      EXPECT_EQ(pair.code, 1223u);
      EXPECT_EQ(browsersOpened, 3);
      EXPECT_EQ(FolderEntries(base.path), std::vector<std::string>{});
    }
    ReleaseFileSet(&s.set);
    RemoveTree(std::string(kTestDrive) + "\\" + productCode);
    if (c.productCode.size() < 100) RemoveTree(InstallerFolder() + "\\" + productCode);
  }
}

// ---------------------------------------------------------------------------
// The browser's start folder

// The user's "Personal" shell folder value, put back as it was.
struct SavedDocumentsValue {
  HKEY key = nullptr;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool present;
  SavedDocumentsValue() {
    RegCreateKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    DWORD size = 0;
    present = RegQueryValueExA(key, "Personal", nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    data.resize(size);
    if (present) RegQueryValueExA(key, "Personal", nullptr, &type, data.data(), &size);
  }
  void Set(DWORD valueType, const std::string& value) {
    RegSetValueExA(key, "Personal", 0, valueType, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  void Remove() { RegDeleteValueA(key, "Personal"); }
  ~SavedDocumentsValue() {
    if (present)
      RegSetValueExA(key, "Personal", 0, type, data.data(), static_cast<DWORD>(data.size()));
    else
      Remove();
    RegCloseKey(key);
  }
};

std::string ShellDocumentsFolder() {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

void NoShellFunction() { ASSERT_TRUE(FailWin32Call("GetProcAddress", 1, ERROR_PROC_NOT_FOUND)); }

TEST_F(ExtractionFolderWine, TheStartFolderComesFromTheShellTheRegistryOrTheCurrentDirectory) {
  TempFolder temp("start-folder");
  const std::string cwd = temp / "cwd";
  for (const char* name : {"cwd", "expanded", "plain"}) CreateDirectoryA((temp / name).c_str(), nullptr);
  SetEnvironmentVariableA("MSILAUNCH_EF_FOLDER", temp.path.c_str());
  SetEnvironmentVariableA("MSILAUNCH_EF_HUGE", std::string(1500, 'h').c_str());
  const struct {
    const char* name;
    std::function<void(SavedDocumentsValue&)> arrange;
    std::string expected;  // "" : empty
  } cases[] = {
      {"ShellAnswers", [](SavedDocumentsValue&) {}, ShellDocumentsFolder()},
      {"ShellLoadedWhenNotFound", [](SavedDocumentsValue&) {
         ASSERT_TRUE(FailWin32Call("GetModuleHandleA", 1, ERROR_MOD_NOT_FOUND)); },
       ShellDocumentsFolder()},
      {"RegistryWithAnEnvironmentReference", [](SavedDocumentsValue& v) {
         NoShellFunction(); v.Set(REG_EXPAND_SZ, "%MSILAUNCH_EF_FOLDER%\\expanded"); },
       temp / "expanded"},
      {"RegistryWithoutShellModule", [&](SavedDocumentsValue& v) {
         ASSERT_TRUE(FailWin32Call("GetModuleHandleA", 1, ERROR_MOD_NOT_FOUND));
         ASSERT_TRUE(FailWin32Call("LoadLibraryA", 1, ERROR_MOD_NOT_FOUND));
         v.Set(REG_SZ, temp / "plain"); },
       temp / "plain"},
      // The elevated launcher makes no folder that the user's registry names.
      {"MissingFolderPassedOver", [&](SavedDocumentsValue& v) {
         NoShellFunction(); v.Set(REG_SZ, temp / "one\\two\\three"); },
       cwd},
      {"ValueNotAString", [&](SavedDocumentsValue& v) { NoShellFunction(); v.Set(REG_BINARY, temp / "binary"); },
       cwd},
      {"ValueBeyondTheBuffer", [&](SavedDocumentsValue& v) { NoShellFunction(); v.Set(REG_SZ, temp / std::string(1100, 'l')); },
       cwd},
      {"ExpansionBeyondTheBuffer", [](SavedDocumentsValue& v) { NoShellFunction(); v.Set(REG_EXPAND_SZ, "C:\\%MSILAUNCH_EF_HUGE%"); },
       cwd},
      {"NoValue", [](SavedDocumentsValue& v) { NoShellFunction(); v.Remove(); }, cwd},
      {"NothingAtAll", [](SavedDocumentsValue& v) {
         NoShellFunction(); v.Remove(); ASSERT_TRUE(FailWin32Call("GetCurrentDirectoryA", 1, ERROR_ACCESS_DENIED)); },
       ""},
  };
  char saved[MAX_PATH];
  GetCurrentDirectoryA(sizeof saved, saved);
  SetCurrentDirectoryA(cwd.c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SavedDocumentsValue value;
    ScopedWin32Reset reset;
    c.arrange(value);
    char dest[kFolderPathSize];
    memset(dest, 'x', sizeof dest);
    GetDefaultBrowseFolder(dest, sizeof dest);
    EXPECT_EQ(std::string(dest), c.expected);
  }
  EXPECT_FALSE(Exists(temp / "one"));
  SetCurrentDirectoryA(saved);
}

// ---------------------------------------------------------------------------
// Every call of the folder code failing in turn: each run ends with the
// files made or with a cancel, and every handle opened is closed or held by
// its item.

uint32_t handlesOpened;
HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
HANDLE WINAPI CountOpenedHandles(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD attributes, HANDLE templateFile) {
  HANDLE file = createFile(path, access, share, security, disposition, attributes, templateFile);
  if (file != INVALID_HANDLE_VALUE) ++handlesOpened;
  return file;
}

NTSTATUS(WINAPI* ntCreateFile)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                               ULONG, ULONG, ULONG, PVOID, ULONG);
NTSTATUS WINAPI CountOpenedNtHandles(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                     PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG attributes,
                                     ULONG share, ULONG disposition, ULONG options, PVOID eaBuffer, ULONG eaLength) {
  const NTSTATUS result = ntCreateFile(file, access, object, status, allocation, attributes, share, disposition,
                                       options, eaBuffer, eaLength);
  if (result >= 0) ++handlesOpened;
  return result;
}

// The sweep's browser for calls that are not the browser's own: it calls
// the program's callback the way the real browser does when it opens, then
// answers at once, like BrowserDriver: the folders given, then Cancel. A real
// browser costs seconds (minutes in the emulated guest), and the sweep opens
// one on every run.
std::deque<std::string> windowlessAnswers;
PIDLIST_ABSOLUTE WINAPI BrowseWithoutWindow(LPBROWSEINFOA info) {
  if (info->lpfn) info->lpfn(nullptr, BFFM_INITIALIZED, 0, info->lParam);
  if (windowlessAnswers.empty()) return nullptr;
  PIDLIST_ABSOLUTE chosen = ILCreateFromPathA(windowlessAnswers.front().c_str());
  windowlessAnswers.pop_front();
  return chosen;
}

TEST_F(ExtractionFolderWine, EveryCallFailingInTurnEndsCleanly) {
  const char* const calls[] = {
      "GetWindowsDirectoryA", "FindFirstFileA", "FindClose", "CreateDirectoryA", "CreateFileA", "ReadFile",
      "CloseHandle", "DeleteFileA", "RemoveDirectoryA", "GetModuleHandleA", "LoadLibraryA", "SetErrorMode",
      "GetProcAddress", "RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey", "ExpandEnvironmentStringsA",
      "CharNextA", "CharPrevA", "SHGetMalloc", "SHBrowseForFolderA", "SHGetPathFromIDListA", "SendMessageA",
      "CoTaskMemFree", "GetFileAttributesA", "GetFileInformationByHandle", "NtCreateFile", "GetDriveTypeA",
      "GetFileInformationByHandleEx", "SetFileInformationByHandle", "GetSecurityInfo", "MultiByteToWideChar",
      "SHGetSpecialFolderPathA"};
  TempFolder temp("sweep");
  SavedDocumentsValue value;
  value.Set(REG_EXPAND_SZ, temp.path + "\\%MSILAUNCH_EF_LEVEL%\\start");  // missing: passed over
  SetEnvironmentVariableA("MSILAUNCH_EF_LEVEL", "level");
  uint32_t runs = 0;
  for (const char* call : calls) {
    bool fired = true;
    for (uint32_t nth = 1; fired; ++nth) {
      SCOPED_TRACE(std::string(call) + " #" + std::to_string(nth));
      productCode = NewProductCode();
      BlockedInstaller blocked(productCode);
      const std::string product = temp / productCode;
      CreateDirectoryA(product.c_str(), nullptr);
      Plant(product + "\\main.msi", "database");  // kept after a comparison
      Plant(product + "\\a.cab", "planted");     // replaced
      TestSet s(ThreeItems());
      std::memset(folder, 0, sizeof folder);
      ErrorPair pair;
      uint32_t closed = 0;
      {
        ScopedWin32Reset reset;
        BrowserDriver driver({{Answer::Choose, temp.path}, {Answer::Choose, temp.path}});
        lookUp = gWin32.GetProcAddress;
        gWin32.GetProcAddress = LookUpWithoutSpecialFolders;
        handlesOpened = 0;
        createFile = gWin32.CreateFileA;
        gWin32.CreateFileA = CountOpenedHandles;
        ntCreateFile = gWin32.NtCreateFile;
        gWin32.NtCreateFile = CountOpenedNtHandles;
        SeeSecurityAs();
        // The real browser where the fault is the browser's, or its callback's.
        if (std::strcmp(call, "SHBrowseForFolderA") && std::strcmp(call, "SendMessageA")) {
          windowlessAnswers = {temp.path, temp.path};
          gWin32.SHBrowseForFolderA = BrowseWithoutWindow;
        }
        ASSERT_TRUE(FailWin32Call(call, nth, ERROR_ACCESS_DENIED));
        pair = Prepare(s);
        fired = Win32FaultFired();
        closed = Win32CallCount("CloseHandle");
      }
      ++runs;
      uint32_t held = (s.set.folder != nullptr) + s.held.count;
      for (int i = 0; i < s.set.count; ++i) held += (s[i].handle != nullptr) + (s[i].held != nullptr);
      EXPECT_EQ(handlesOpened, closed + held);
      if (pair.code == 0) {
        EXPECT_EQ(std::string(folder), product);
        for (int i = 0; i < s.set.count; ++i) EXPECT_EQ(std::string(s[i].path), product + "\\" + s[i].name);
        EXPECT_NE(s[2].handle, nullptr);
      } else {
        EXPECT_EQ(pair.code, 1223u);
        EXPECT_EQ(pair.line, 2219u);
        EXPECT_EQ(held, 0u);
        ExpectNothingHeld(s);
      }
      ReleaseFileSet(&s.set);
      RemoveTree(product);
      RemoveTree(temp / "level");
    }
  }
  EXPECT_GT(runs, std::size(calls));
}

// ---------------------------------------------------------------------------
// Double-byte folder names (code page 932, where "表" is 0x95 0x5C): run with
// LC_ALL=ja_JP.UTF-8.

const char kTable[] = "\x95\x5C";

TEST_F(ExtractionFolderWine, DoubleByteNamesEndingInByte5CAreNotCut) {
  if (!HasCodePage(932)) GTEST_SKIP() << "needs code page 932, not " << GetACP();
  TempFolder temp("dbcs");
  // A browsed folder whose last byte is 0x5C keeps its last character.
  const std::string chosen = temp / (std::string("x") + kTable);
  CreateDirectoryA(chosen.c_str(), nullptr);
  BlockedInstaller blocked(productCode);
  TestSet s(ThreeItems());
  BrowserDriver driver({{Answer::Choose, chosen}});
  StartFolderIsCurrentDirectory start(temp.path);
  EXPECT_EQ(Prepare(s).code, 0u);
  EXPECT_EQ(std::string(folder), chosen + "\\" + productCode);
  ExpectCreatedIn(s, chosen + "\\" + productCode);
}

}  // namespace
