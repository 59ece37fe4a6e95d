// The real launcher under Wine: a stub with a payload made by the packer's
// writer, started as a child process, its full exit code read back, and its
// error box found, read and dismissed through the window list.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packer/writer/branding.h"
#include "packer/writer/key_slot.h"
#include "packer/writer/payload_writer.h"
#include "packer/writer/pe_placement.h"
#include "payload/pe_image.h"
#include "tests/support/payloads.h"
#include "tests/wine/msiexec_standin.h"
#include "tests/wine/wine_process.h"

namespace {

std::string WorkDirectory() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "msilaunch-launcher-test\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

// Writes `bytes` as <work>\<name> and returns its path.
std::string WriteSetup(const std::string& name, const ByteVector& bytes) {
  const std::string path = WorkDirectory() + name;
  EXPECT_TRUE(WriteWholeFile(path, bytes)) << path;
  return path;
}

const ByteVector& Stub() {
  static const ByteVector stub = ReadWholeFile(MSILAUNCH_STUB);
  return stub;
}

ByteVector WithTail(const ByteVector& stack) {
  ByteVector exe = Stub();
  exe.insert(exe.end(), stack.begin(), stack.end());
  return exe;
}

// The stub with its key slot emptied in the file, as a build with an empty
// slot has it: the launcher must read the slot from its image, whatever the
// compiler saw when it was built.
ByteVector Unstamped() {
  ByteVector exe = Stub();
  StubKeySlot slot;
  EXPECT_EQ(FindKeySlot(ByteView{exe.data(), exe.size()}, &slot), KeySlotSearch::Found) << "one key slot in the image";
  std::fill(exe.begin() + slot.at + kKeySlotStateAt, exe.begin() + slot.at + kKeySlotSize, 0);
  return exe;
}

// An emptied stub stamped by the packer's set-key with `key`'s public half,
// bound to the payloads `bound` (none: the stub takes any the key signed).
ByteVector StampedWith(const SigningKey* key, const std::vector<const ByteVector*>& bound = {}) {
  uint8_t modulus[256];
  SigningKeyModulus(key, modulus);
  std::vector<ManifestDigest> bindings(bound.size());
  std::string error;
  for (size_t i = 0; i < bound.size(); ++i)
    EXPECT_TRUE(ReadManifestDigest(ByteView{bound[i]->data(), bound[i]->size()}, modulus, &bindings[i], &error))
        << error;
  ByteVector exe;
  KeyStamp stamp;
  EXPECT_TRUE(StampKeySlot(Unstamped(), modulus, bindings, false, &exe, &stamp, &error)) << error;
  return exe;
}

// `exe` with the signature of the test programs' signed.exe as its own: its
// hash is not the stub's, which the launcher never checks, but its
// certificate set is one the packer can add a payload to.
ByteVector WithBorrowedSignature(ByteVector exe) {
  const ByteVector donor = ReadWholeFile(MSILAUNCH_TEST_EXE_DIR "/signed.exe");
  PeImage theirs, ours;
  EXPECT_EQ(ReadPeImage(ByteView{donor.data(), donor.size()}, &theirs), PeHeaders::Complete);
  exe.resize((exe.size() + 7) / 8 * 8, 0);
  EXPECT_EQ(ReadPeImage(ByteView{exe.data(), exe.size()}, &ours), PeHeaders::Complete);
  const uint32_t at = static_cast<uint32_t>(exe.size());
  exe.insert(exe.end(), donor.begin() + theirs.tableOffset, donor.begin() + theirs.tableOffset + theirs.tableSize);
  std::memcpy(&exe[ours.securityEntryAt], &at, 4);
  std::memcpy(&exe[ours.securityEntryAt + 4], &theirs.tableSize, 4);
  return exe;
}

// `exe`, signed, with each stack in a certificate of its own, as attach
// --carrier certificate puts them: the later ones added after signing.
ByteVector WithCertificates(const ByteVector& exe, const std::vector<const ByteVector*>& stacks) {
  ByteVector out = WithBorrowedSignature(exe), next;
  std::string error;
  for (const ByteVector* stack : stacks) {
    EXPECT_TRUE(PlaceStackInCertificate(out, *stack, &next, &error)) << error;
    out.swap(next);
  }
  return out;
}

// The architecture the launcher looks for: "x64" when it is a 32-bit
// process on 64-bit Windows; this flavour of the test runs at the
// launcher's own bitness, so it asks the same question.
const char* ThisArchitecture() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64 ? "x64" : "Intel";
}
const char* OtherArchitecture() { return std::string(ThisArchitecture()) == "x64" ? "Intel" : "x64"; }

TestPayloadSpec SpecFor(const char* architecture, const char* lcids = "1033") {
  TestPayloadSpec plan = TypicalPayloadSpec();
  for (TestPackage& p : plan.packages) {
    p.architecture = architecture;
    p.lcids = lcids;
  }
  return plan;
}

// Removes what a finished run leaves of `plan`'s packages in the Windows
// Installer folder: an msiexec that ended with 0 keeps the extraction.
void RemoveExtractions(const TestPayloadSpec& plan) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  for (const TestPackage& p : plan.packages) {
    const std::string folder = std::string(windows) + "\\Installer\\" + p.productCode;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA((folder + "\\" + found.cFileName).c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
  }
}

uint32_t RunSetup(const std::string& path, const std::wstring& arguments) {
  std::string output;
  uint32_t code = 0xDEADBEEF;
  const std::wstring commandLine = L"\"" + Widen(path) + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  EXPECT_TRUE(RunProgram(commandLine, &output, &code)) << output;
  return code;
}

// A copy of the stub whose security directory names a certificate table
// that is not a PKCS#7 message, with a good stack at the tail behind it.
ByteVector WithBrokenCertificateTable(const ByteVector& stack) {
  ByteVector exe = Stub();
  const uint32_t peOffset = *reinterpret_cast<const uint32_t*>(&exe[0x3C]);
  const uint16_t magic = *reinterpret_cast<const uint16_t*>(&exe[peOffset + 24]);
  // The security directory: data directory 4, 96 (PE32) or 112 (PE32+)
  // bytes into the optional header.
  const uint32_t directory = peOffset + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
  const uint32_t tableOffset = static_cast<uint32_t>(exe.size());
  const uint8_t entry[16] = {16, 0, 0, 0, 0, 2, 2, 0, 'n', 'o', 't', ' ', 'p', 'k', 'c', 's'};
  exe.insert(exe.end(), entry, entry + sizeof entry);
  exe.insert(exe.end(), stack.begin(), stack.end());
  const uint32_t tableSize = static_cast<uint32_t>(exe.size()) - tableOffset;
  std::memcpy(&exe[directory], &tableOffset, 4);
  std::memcpy(&exe[directory + 4], &tableSize, 4);
  return exe;
}

// The typical payload with its cabinet named `first` and a second one of the
// same bytes, for the same package, named `second`.
ByteVector WithSecondCabinet(const std::string& first, const std::string& second) {
  TestPayloadSpec plan = SpecFor(ThisArchitecture());
  plan.cabs[0].fileName = first;
  plan.cabs.push_back(TestCab{3, "1", second, plan.cabs[0].content});
  return BuildTestPayload(plan);
}

TEST(LauncherWine, ExitCodesWithQuietSwitches) {
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  const TestPayloadSpec plan = SpecFor(ThisArchitecture());
  const ByteVector good = BuildTestPayload(plan);
  ByteVector corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x5A;  // inside a record's compressed data or signature
  // Another payload the same key signed, for the same user, added after the
  // stub was bound: at the tail it is the one the carrier finds, in a
  // certificate of its own it is the second.
  TestPayloadSpec laterPlan = plan;
  laterPlan.packages[0].productName += " (older release)";
  const ByteVector later = BuildTestPayload(laterPlan);
  ByteVector goodThenLater = good;
  goodThenLater.insert(goodThenLater.end(), later.begin(), later.end());
  const ByteVector bound = StampedWith(TestKey(), {&good});

  struct Case {
    const char* name;
    ByteVector exe;
    uint32_t expected;  // 0xFFFFFFFF: any failure but the listed ones
  };
  std::vector<Case> cases = {
      {"good.exe", WithTail(good), 0},
      {"nopayload.exe", Stub(), 1168},
      {"nopackage.exe", WithTail(BuildTestPayload(SpecFor(OtherArchitecture()))), 13},
      {"corrupt.exe", WithTail(corrupt), 0xFFFFFFFF},
      // The launcher looks for a signature only in a PE32 file: the x86-64
      // flavour of the stub is PE32+, so there the tail carrier runs.
      {"badcert.exe", WithBrokenCertificateTable(good), sizeof(void*) == 4 ? 0xFFFFFFFF : 0u},
      // Names that are one file, whatever the bytes: refused at once, no
      // folder and no browser (which would wait for a user even under /qn).
      // The last pair (written in UTF-8 here) is one file under code page 1252.
      {"onefile.exe", WithTail(WithSecondCabinet("Disk1.cab", "disk1.cab")), 13},
      {"umlaut.exe", WithTail(WithSecondCabinet("\xC3\x84.cab", "\xC3\xA4.cab")), 13},
      // A name the system may give the other file as its short name, and a
      // name that fits no folder: refused as early, never sent round the
      // browser.
      {"alias.exe", WithTail(WithSecondCabinet("longcabinetname.cab", "LONG~UM1.CAB")), 13},
      {"longname.exe", WithTail(WithSecondCabinet("a.cab", std::string(216, 'n') + ".cab")), 13},
      // An empty key slot verifies no record: the manifest fails at the key
      // (NTE_BAD_KEY, 599). Stamped, the slot's key is the one that counts.
      {"unstamped.exe", ::WithTail(Unstamped(), good), 0x80090003},
      {"otherkey.exe", ::WithTail(StampedWith(OtherKey()), good), 1392},
      {"stamped.exe", ::WithTail(StampedWith(TestKey()), good), 0},
      // A bound stub installs its payload and refuses one added after
      // signing as a manifest that does not verify (1392, 592); unbound, the
      // added one would win.
      {"bound.exe", ::WithTail(bound, good), 0},
      {"appended.exe", ::WithTail(bound, goodThenLater), 1392},
      {"unbound appended.exe", ::WithTail(StampedWith(TestKey()), goodThenLater), 0},
  };
  // The certificate carrier reads only PE32 files: the shipping launcher's.
  if (sizeof(void*) == 4) {
    cases.push_back({"bound cert.exe", WithCertificates(bound, {&good}), 0});
    cases.push_back({"appended cert.exe", WithCertificates(bound, {&good, &later}), 1392});
  }
  for (const auto& c : cases) {
    const std::string path = WriteSetup(c.name, c.exe);
    for (const wchar_t* quiet : {L"/q", L"/QUIET", L"REBOOT=R /qn"}) {
      // Each run from nothing: Wine reports every folder as its user's, so a
      // product folder an earlier run left is one the launcher would refuse.
      RemoveExtractions(plan);
      const uint32_t code = RunSetup(path, quiet);
      if (c.expected != 0xFFFFFFFF) {
        EXPECT_EQ(code, c.expected) << c.name << " " << Widen(c.name).size();
      } else {
        // A damaged record fails to inflate (13) or to verify (1392); a
        // certificate table that does not decode fails the run although a
        // good stack sits at the tail.
        EXPECT_NE(code, 0u) << c.name;
        EXPECT_NE(code, 1168u) << c.name;
      }
      if (std::string(c.name) == "corrupt.exe") {
        EXPECT_TRUE(code == 13 || code == 1392) << code;
      }
    }
  }
  RemoveExtractions(plan);  // laterPlan's product is the same
}

// Starts `path` without a quiet switch, waits for its error box, reads the
// caption and text, presses OK and returns the exit code.
uint32_t RunAndReadBox(const std::string& path, std::string* caption, std::string* text) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string commandLine = "\"" + path + "\"";
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << path << ": " << GetLastError();
    return 0xDEADBEEF;
  }
  HWND box = nullptr;
  for (int i = 0; i < 600 && !box; ++i) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
    const std::vector<HWND> dialogs = VisibleDialogsOf(process.dwProcessId);
    if (!dialogs.empty()) box = dialogs.front();
  }
  if (box) {
    char buffer[2048] = "";
    GetWindowTextA(box, buffer, sizeof buffer);
    *caption = buffer;
    buffer[0] = '\0';
    GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);  // the box's static text
    *text = buffer;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 0xDEADBEEF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

TEST(LauncherWine, ErrorBoxShowsStringOrGenericText) {
  const struct {
    const char* name;  // also the box's caption
    ByteVector exe;
    uint32_t code;
  } cases[] = {
      {"setup.exe", Stub(), 1168u},
      {"other arch.exe", WithTail(BuildTestPayload(SpecFor(OtherArchitecture()))), 13u},
      {"unstamped.exe", ::WithTail(Unstamped(), BuildTestPayload(SpecFor(ThisArchitecture()))), 0x80090003u},
  };
  for (const auto& c : cases) {
    std::string caption, text;
    EXPECT_EQ(RunAndReadBox(WriteSetup(c.name, c.exe), &caption, &text), c.code) << c.name;
    EXPECT_EQ(caption, c.name);
    EXPECT_EQ(text, "The installation file is either corrupted or does not support your processor architecture.");
  }
}

// The stub as a vendor brands it: German messages, and an icon of its own,
// app.ico's first image alone (*image gets its bytes).
ByteVector Branded(ByteVector* image) {
  const std::string source = MSILAUNCH_SOURCE_DIR;
  const ByteVector appIco = ReadWholeFile(source + "\\resources\\app.ico");
  const ByteVector german = ReadWholeFile(source + "\\resources\\messages\\de-DE.txt");
  uint32_t size = 0, offset = 0;
  ByteView images{};
  EXPECT_TRUE(U32(ByteView{appIco.data(), appIco.size()}, 14, &size) &&
              U32(ByteView{appIco.data(), appIco.size()}, 18, &offset) &&
              Sub(ByteView{appIco.data(), appIco.size()}, offset, size, &images));
  image->assign(images.data, images.data + images.size);
  ByteVector ico(appIco.begin(), appIco.begin() + 22);
  ico[4] = 1;
  ico[18] = 22, ico[19] = ico[20] = ico[21] = 0;
  ico.insert(ico.end(), image->begin(), image->end());
  ResourceSection section;
  std::vector<Resource> resources;
  std::vector<std::u16string> texts;
  std::string error;
  ByteVector out;
  EXPECT_TRUE(FindResourceSection(ByteView{Stub().data(), Stub().size()}, &section, &error) &&
              ReadResources(section, &resources, &error) &&
              ReplaceIcon(ByteView{ico.data(), ico.size()}, &resources, &error) &&
              ParseMessages(ByteView{german.data(), german.size()}, 0x0407, &texts, &error))
      << error;
  ReplaceMessages(0x0407, texts, &resources);
  EXPECT_TRUE(ReplaceResources(Stub(), resources, &out, &error)) << error;
  return out;
}

// Text the launcher shows: its UTF-16 string in the ANSI code page.
std::string AnsiOf(const std::string& utf8) {
  wchar_t wide[1024];
  char ansi[2048];
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, 1024);
  return WideCharToMultiByte(CP_ACP, 0, wide, n, ansi, sizeof ansi, nullptr, nullptr) > 0 ? ansi : "";
}

// A German user gets the branded German message, anyone else the stub's
// English; Windows' loader finds the vendor's icon group.
TEST(LauncherWine, BrandedStubSpeaksTheUserLanguage) {
  const char* locale = std::getenv("MSILAUNCH_LOCALE_CASE");
  if (!locale) GTEST_SKIP() << "runs in the entries that set LC_ALL and MSILAUNCH_LOCALE_CASE";
  ByteVector image;
  const std::string path = WriteSetup("branded.exe", Branded(&image));
  std::string caption, text;
  EXPECT_EQ(RunAndReadBox(path, &caption, &text), 1168u);
  EXPECT_EQ(text, std::string(locale) == "de_DE"
                      ? AnsiOf("Die Installationsdatei ist entweder beschädigt oder unterstützt die Architektur "
                               "Ihres Prozessors nicht.")
                      : "The installation file is either corrupted or does not support your processor architecture.");
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  HRSRC group = FindResourceA(module, "APP", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  const uint8_t* groupBytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, group)));
  ASSERT_EQ(groupBytes[4], 1) << "images in the group";
  HRSRC icon = FindResourceA(module, MAKEINTRESOURCEA(groupBytes[18] | groupBytes[19] << 8), MAKEINTRESOURCEA(3));
  ASSERT_NE(icon, nullptr);
  const uint8_t* iconBytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, icon)));
  EXPECT_EQ(ByteVector(iconBytes, iconBytes + SizeofResource(module, icon)), image);
  FreeLibrary(module);
}

TEST(LauncherWine, SelectsByUserLocale) {
  // Two packages for this architecture; the German one's database record is
  // missing, so choosing it fails the file set (13) while the English one
  // succeeds (0): the exit code tells which one the launcher chose.
  TestPayloadSpec plan = SpecFor(ThisArchitecture());
  ASSERT_FALSE(plan.packages.empty());
  TestPackage german = plan.packages[0];
  german.id = 900;
  german.lcids = "1031";
  german.productCode = "{11111111-2222-3333-4444-555555555555}";
  plan.packages.insert(plan.packages.begin(), german);
  ByteVector manifest = BuildTestManifest(plan);
  std::vector<PayloadFile> files;
  for (const TestPackage& p : plan.packages)
    if (p.id != 900) files.push_back({p.id, p.database});
  for (const TestCab& c : plan.cabs) files.push_back({c.id, c.content});
  ByteVector stack;
  std::string error;
  ASSERT_TRUE(BuildPayload(manifest, files, TestKey(), RecordEncoding{}, &stack, &error)) << error;
  const std::string path = WriteSetup("locale.exe", WithTail(stack));
  const uint32_t expected = PRIMARYLANGID(GetUserDefaultLCID()) == LANG_GERMAN ? 13u : 0u;
  ScopedStandInMsiexec msiexec(0);
  ASSERT_TRUE(msiexec.ready());
  EXPECT_EQ(RunSetup(path, L"/q"), expected) << "user LCID " << GetUserDefaultLCID();
  RemoveExtractions(plan);
}

}  // namespace
