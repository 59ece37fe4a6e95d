#include "base/system_win32.h"

#include "base/win32_calls.h"

namespace {

// A file or folder as it should be, not a link (a junction, mount point or
// symbolic link is a reparse point).
bool IsPlainEntry(DWORD attributes, bool folder) {
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

HANDLE OpenEntryToHold(const char* path, DWORD share, DWORD flags, bool folder) {
  HANDLE entry = gWin32.CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
  if (entry == INVALID_HANDLE_VALUE) return entry;
  // The handle's attributes are the entry's own, which no later swap can
  // change: the race-free answer on Windows. Wine follows a link when it opens
  // and shows one only in the path's attributes, asked while the entry is
  // held, so that its name cannot move in between.
  BY_HANDLE_FILE_INFORMATION info;
  DWORD refusal = ERROR_CANT_ACCESS_FILE;  // a link, or not the kind of entry wanted
  bool plain = false;
  if (!gWin32.GetFileInformationByHandle(entry, &info)) {
    refusal = GetLastError();
  } else if (IsPlainEntry(info.dwFileAttributes, folder)) {
    const DWORD attributes = gWin32.GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) refusal = GetLastError();
    plain = IsPlainEntry(attributes, folder);
  }
  if (plain) return entry;
  gWin32.CloseHandle(entry);
  SetLastError(refusal != ERROR_SUCCESS ? refusal : ERROR_CANT_ACCESS_FILE);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

int PathExists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = gWin32.FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  gWin32.FindClose(search);
  return 1;
}

HANDLE OpenFileToHold(const char* path) { return OpenEntryToHold(path, FILE_SHARE_READ, 0, false); }

HANDLE OpenFolderToHold(const char* path) {
  return OpenEntryToHold(path, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_BACKUP_SEMANTICS, true);
}
