#include "tests/wine/msiexec_standin.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "tests/wine/wine_process.h"

namespace {

std::string SystemFile(const char* name) {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, sizeof folder);
  return std::string(folder, length < sizeof folder ? length : 0) + "\\" + name;
}

// Wine runs its own msiexec for the system directory's msiexec.exe whatever
// the file holds, unless the prefix asks for the file on disk ("native").
constexpr char kOverrides[] = "Software\\Wine\\DllOverrides";

void PreferFileOnDisk(bool prefer) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kOverrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  static const char kNative[] = "native";
  if (prefer)
    RegSetValueExA(key, "msiexec.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNative), sizeof kNative);
  else
    RegDeleteValueA(key, "msiexec.exe");
  RegCloseKey(key);
}

}  // namespace

void RestoreSystemMsiexec() {
  PreferFileOnDisk(false);
  const std::string path = SystemFile("msiexec.exe");
  const std::string aside = path + ".msilaunch-real";
  if (GetFileAttributesA(aside.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  DeleteFileA(path.c_str());
  MoveFileA(aside.c_str(), path.c_str());
}

ScopedStandInMsiexec::ScopedStandInMsiexec(uint32_t exitCode)
    : path_(SystemFile("msiexec.exe")),
      aside_(path_ + ".msilaunch-real"),
      // Beside the stand-in, where it reads and writes whatever its name.
      log_(SystemFile("fake_msiexec.log")),
      codeFile_(SystemFile("fake_msiexec.exitcode")) {
  if (GetFileAttributesA(aside_.c_str()) == INVALID_FILE_ATTRIBUTES &&
      !MoveFileA(path_.c_str(), aside_.c_str()))
    return;
  const std::string standIn = Narrow(ToolsDirectory()) + "fake_msiexec.exe";
  if (!CopyFileA(standIn.c_str(), path_.c_str(), FALSE)) return;
  PreferFileOnDisk(true);
  DeleteFileA(log_.c_str());
  SetExitCode(exitCode);
  ready_ = true;
}

ScopedStandInMsiexec::~ScopedStandInMsiexec() {
  DeleteFileA(log_.c_str());
  DeleteFileA(codeFile_.c_str());
  RestoreSystemMsiexec();
}

void ScopedStandInMsiexec::SetExitCode(uint32_t exitCode) { WriteWholeFile(codeFile_, std::to_string(exitCode)); }

std::string ScopedStandInMsiexec::CommandLines() const {
  const std::vector<uint8_t> bytes = ReadWholeFile(log_);
  return std::string(bytes.begin(), bytes.end());
}
