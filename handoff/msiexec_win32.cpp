#include "handoff/msiexec_win32.h"

#include <cstring>

#include "base/bounded_text.h"
#include "base/platform.h"
#include "base/system_win32.h"
#include "base/win32_calls.h"

namespace {

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(STARTUPINFOA) == 68, "msiexec receives the i686 STARTUPINFOA");
#endif

}  // namespace

ErrorPair FindMsiexec(char* path, uint32_t size) {
  constexpr uint32_t kMsiexecNotFound = 2161;
  const ErrorPair notFound{ErrorCode::NoAssociation, kMsiexecNotFound};
  if (size == 0) return notFound;
  // 0 when it fails; the size it would need (nothing stored) when too small.
  const UINT stored = gWin32.GetSystemDirectoryA(path, size);
  size_t length = stored;
  if (stored == 0 || stored >= size || !AppendFormat(path, size, &length, "\\%s", "msiexec.exe") ||
      !PathExists(path)) {
    path[0] = '\0';
    return notFound;
  }
  return ErrorPair{ErrorCode::Success, kMsiexecNotFound};
}

ErrorPair LaunchMsiexec(const char* msiexecPath, char* commandLine, int32_t showCommand,
                        MsiexecOutcome* outcome) {
  *outcome = kMsiexecNotRun;
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(static_cast<uint32_t>(showCommand) & 0xFFFFu);
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);
  // msiexec starts in the system directory, its own folder, rather than in
  // the launcher's: a folder the user chose to start setup.exe from (a
  // download folder others can write) is no place for an elevated process
  // to look for anything.
  char folder[kMsiexecPathSize];
  size_t length = 0;
  AppendFormat(folder, sizeof folder, &length, "%s", msiexecPath);
  char* lastBackslash = std::strrchr(folder, '\\');
  if (lastBackslash) *lastBackslash = '\0';
  constexpr uint32_t kMsiexecNotStarted = 2355;
  if (!gWin32.CreateProcessA(msiexecPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                             lastBackslash ? folder : nullptr, &startup, &process))
    return MakeErrorPair(&platform::LastError, ErrorCode::NoProcSlots, kMsiexecNotStarted);
  outcome->started = 1;

  constexpr uint32_t kMsiexecOutcomeUnknown = 2352, kMsiexecEnded = 2349;
  ErrorPair pair;
  if (gWin32.WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0) {
    outcome->unknown = 1;
    pair = MakeErrorPair(&platform::LastError, ErrorCode::InvalidHandle, kMsiexecOutcomeUnknown);
  } else {
    DWORD code = 0;
    if (gWin32.GetExitCodeProcess(process.hProcess, &code)) outcome->exitCode = code;
    if (outcome->exitCode == ErrorCode::StillActive) {
      // A process that ends has another code, so msiexec's end is not known.
      outcome->unknown = 1;
      pair = ErrorPair{ErrorCode::StillActive, kMsiexecOutcomeUnknown};
    } else {
      pair = ErrorPair{outcome->exitCode, kMsiexecEnded};
    }
  }
  gWin32.CloseHandle(process.hThread);
  gWin32.CloseHandle(process.hProcess);
  return pair;
}
