#include "base/system_win32.h"

#include "base/win32_calls.h"

int PathExists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = gWin32.FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  gWin32.FindClose(search);
  return 1;
}
