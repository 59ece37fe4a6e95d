// GetOwnModulePath from a real module file name longer than MAX_PATH: this
// program copies itself into nested folders past 260 characters and runs the
// copy in its child mode, which reports what GetOwnModulePath saw.
#include "launcher/command_line.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/platform.h"
#include "tests/support/fault_injection.h"
#include "tests/wine/code_page.h"
#include "tests/wine/wine_process.h"

namespace {

constexpr char kChildMode[] = "--own-path-child";

std::vector<uint32_t> capacities;

uint32_t RecordingModuleFileName(char* buffer, uint32_t capacity) {
  capacities.push_back(capacity);
  return kPlatformDefaults.ModuleFileName(buffer, capacity);
}

// Child mode: prints the path, then the capacities asked for, one a line.
int RunChild() {
  gPlatform.ModuleFileName = RecordingModuleFileName;
  char* path = GetOwnModulePath();
  if (!path) return 3;
  std::printf("%s\n", path);
  for (uint32_t capacity : capacities) std::printf("%u\n", capacity);
  platform::FreeBlock(path);
  return 0;
}

std::string OwnPath() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, n);
}

// Creates nested folders beside this program (through \\?\ so that no
// layer applies MAX_PATH) until a file named `kCopyName` inside them has a
// path of at least `minimumLength` characters; returns the innermost.
constexpr char kCopyName[] = "own_path_copy.exe";
std::string DeepFolder(const std::string& tag, size_t minimumLength) {
  const std::string self = OwnPath();
  std::string folder = self.substr(0, self.find_last_of('\\'));
  for (int i = 0; folder.size() + sizeof kCopyName < minimumLength; ++i) {
    folder += '\\' + tag + std::to_string(i) + std::string(30, 'd');
    CreateDirectoryW((L"\\\\?\\" + Widen(folder)).c_str(), nullptr);
  }
  return folder;
}

// Copies `source` to `copy`; false when it cannot.
bool CopyDeep(const std::string& source, const std::string& copy) {
  return CopyFileW((L"\\\\?\\" + Widen(source)).c_str(), (L"\\\\?\\" + Widen(copy)).c_str(), FALSE) != FALSE;
}

// Whether this Wine starts a program from `folder`: a copy of exit_with.exe
// there must run and end with the code it is given. Wine 8 refuses a start
// from a path past MAX_PATH with an error that depends on its loader and on
// the path (2, 3 and 6 have been seen), so the refusal is learnt from a
// program that cannot fail rather than read from a list of codes.
bool StartsProgramsIn(const std::string& folder, std::string* why) {
  const std::string probe = folder + "\\own_path_probe.exe";
  if (!CopyDeep(Narrow(ToolsDirectory()) + "\\exit_with.exe", probe)) {
    *why = "exit_with.exe not copied: " + std::to_string(GetLastError());
    return false;
  }
  uint32_t code = 0;
  if (!RunProgram(L"own_path_probe.exe 42", why, &code, L"\\\\?\\" + Widen(probe))) return false;
  *why = "the probe ended with " + std::to_string(code);
  return code == 42;
}

TEST(OwnPathWine, LongModuleNamesGrowTheBufferBy64) {
  // Past the first buffer, and past several growth steps.
  struct Case {
    const char* tag;
    size_t minimumLength;
  } cases[] = {{"a", 261}, {"b", 470}};
  for (const Case& c : cases) {
    const std::string folder = DeepFolder(c.tag, c.minimumLength);
    std::string why;
    if (!StartsProgramsIn(folder, &why)) {
      // Nothing here can show the growth: the unit tests' fake module name
      // still does.
      EndProgramAsSkipped();
      GTEST_SKIP() << "this Wine cannot start a program from a path past MAX_PATH (" << why << ")";
    }
    const std::string copy = folder + '\\' + kCopyName;
    ASSERT_TRUE(CopyDeep(OwnPath(), copy)) << GetLastError();
    ASSERT_GE(copy.size(), c.minimumLength);
    std::string output;
    uint32_t code = 0;
    // Only a \\?\ application name gets past MAX_PATH when starting it.
    ASSERT_TRUE(RunProgram(L"own_path_copy.exe " + Widen(kChildMode), &output, &code, L"\\\\?\\" + Widen(copy)))
        << output;
    ASSERT_EQ(code, 0u) << output;

    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = output.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(output.substr(at, end - at));
    ASSERT_GE(lines.size(), 2u) << output;
    EXPECT_EQ(lines[0], copy);
    std::vector<std::string> expected;
    for (uint32_t capacity = 260;; capacity += 64) {
      expected.push_back(std::to_string(capacity));
      if (copy.size() < capacity) break;
    }
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected) << output;
  }
}

TEST(OwnPathWine, ShortNamesFitTheFirstBuffer) {
  capacities.clear();
  ScopedPlatformReset reset;
  gPlatform.ModuleFileName = RecordingModuleFileName;
  char* path = GetOwnModulePath();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(std::string(path), OwnPath());
  EXPECT_EQ(capacities, std::vector<uint32_t>{260});
  platform::FreeBlock(path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], kChildMode) == 0) {
    _setmode(_fileno(stdout), _O_BINARY);  // plain "\n" line ends for the parent
    return RunChild();
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
