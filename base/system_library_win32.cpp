#include "base/system_library_win32.h"

#include "base/bounded_text.h"
#include "base/run_time_calls_win32.h"
#include "base/win32_calls.h"

void RestrictDllSearchToSystemDirectory() {
  gWin32.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const char* fileName) {
  // The flags came with SetDefaultDllDirectories; a system without the
  // function refuses them (ERROR_INVALID_PARAMETER).
  if (KernelHasFunction("SetDefaultDllDirectories"))
    return gWin32.LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);

  char path[MAX_PATH];
  const UINT length = gWin32.GetSystemDirectoryA(path, sizeof path);
  if (length == 0) return nullptr;
  size_t used = length;
  if (length >= sizeof path || !AppendFormat(path, sizeof path, &used, "\\%s", fileName)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return gWin32.LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
