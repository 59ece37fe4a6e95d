#include "launcher/launcher_win32.h"

#include <commctrl.h>
#include <objbase.h>

#include "handoff/installation_sequence.h"
#include "base/bounded_text.h"
#include "launcher/command_line.h"
#include "base/platform.h"
#include "base/system_library_win32.h"
#include "base/win32_calls.h"
#include "resources/resource_ids.h"

namespace {

// The part of the path after its last backslash, found with CharNextA so a
// trail byte of a double-byte character never counts as one.
const char* CaptionOf(const char* ownPath) {
  if (!ownPath) return "Loader";
  const char* caption = ownPath;
  for (const char* p = ownPath; *p; p = gWin32.CharNextA(p))
    if (*p == '\\') caption = p + 1;
  return caption;
}

void LoadStringInto(HINSTANCE instance, UINT id, char* buffer, int size) {
  if (gWin32.LoadStringA(instance, id, buffer, size) == 0) buffer[0] = '\0';
}

}  // namespace

uint32_t ProbeWow64() {
  BOOL answer = FALSE;
  gWin32.SetErrorMode(SEM_NOOPENFILEERRORBOX);
  gWin32.IsWow64Process(gWin32.GetCurrentProcess(), &answer);
  return answer ? 1 : 0;
}

ErrorPair ReadOwnPayloads(const char* ownPath, PayloadList* payloads) {
  HANDLE file = gWin32.CreateFileA(ownPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  constexpr uint32_t kOwnFileNotOpened = 2042;
  if (file == INVALID_HANDLE_VALUE) return MakeErrorPair(&platform::LastError, ErrorCode::OpenFailed, kOwnFileNotOpened);

  ErrorPair pair;
  uint8_t* bytes = nullptr;
  const DWORD size = gWin32.GetFileSize(file, nullptr);
  DWORD read = 0;
  constexpr uint32_t kOwnFileSizeUnknown = 2035, kOwnFileNoMemory = 2030, kOwnFileNotRead = 2023;
  if (size == INVALID_FILE_SIZE && platform::LastError() != 0) {
    pair = MakeErrorPair(nullptr, ErrorCode::SeekOnDevice, kOwnFileSizeUnknown);
  } else if (!(bytes = static_cast<uint8_t*>(platform::AllocBlock(size, 0)))) {
    pair = MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, kOwnFileNoMemory);
  } else if (!gWin32.ReadFile(file, bytes, size, &read, nullptr) || read < size) {
    pair = MakeErrorPair(nullptr, ErrorCode::ReadFault, kOwnFileNotRead);
  } else {
    pair = LoadPayloads(bytes, size, payloads);
  }
  if (bytes) platform::FreeBlock(bytes);
  gWin32.CloseHandle(file);
  return pair;
}

uint32_t RunLauncher(HINSTANCE instance, int showCommand) {
  // Before anything can load a DLL (common controls, COM, the shell): the
  // folder the launcher was started from is no place to look for one.
  RestrictDllSearchToSystemDirectory();
  static LauncherState state;  // 5 KiB of buffers: kept off the stack
  BeginRun(&state);
  state.instance = instance;
  state.showCommand = showCommand;

  gWin32.InitCommonControls();
  gWin32.CoInitialize(nullptr);
  state.context.userLcid = gWin32.GetUserDefaultLCID();
  state.context.isWow64 = ProbeWow64();

  int32_t count = 0;
  state.arguments = SplitCommandLine(reinterpret_cast<const char16_t*>(gWin32.GetCommandLineW()), &count);
  constexpr uint32_t kArgumentsNotAllocated = 2411;
  if (!state.arguments) {
    state.report.pair = MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, kArgumentsNotAllocated);
  } else {
    state.argumentCount = count;
    state.ownPath = GetOwnModulePath();
    constexpr uint32_t kOwnPathUnavailable = 2406;
    if (!state.ownPath) {
      state.report.pair = MakeErrorPair(nullptr, ErrorCode::CantResolveFilename, kOwnPathUnavailable);
    } else {
      state.report.pair = ReadOwnPayloads(state.ownPath, &state.context.payloads);
      LoadStringInto(instance, kStringInstallerRequired, state.string100, sizeof state.string100);
      LoadStringInto(instance, kStringCorruptOrUnsupported, state.string101, sizeof state.string101);
      LoadStringInto(instance, kStringSelectFolder, state.string102, sizeof state.string102);
      if (state.report.pair.code != 0)
        state.report.box = BoxText::CorruptOrUnsupported;  // no payload could be loaded
      else
        state.report = RunInstallationSequence(
            {&state.context, state.arguments, state.argumentCount, state.showCommand, state.string102,
             HasQuietSwitch(state.arguments, state.argumentCount) ? 1u : 0u});
    }
  }

  // Exit handling, on every path.
  if (DecideErrorBox(&state))
    gWin32.MessageBoxA(nullptr, state.messageText, CaptionOf(state.ownPath), MB_ICONERROR);
  const uint32_t exitCode = state.report.pair.code;
  EndRun(&state);
  gWin32.CoUninitialize();
  return exitCode;
}
