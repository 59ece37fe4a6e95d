#include "base/held_folders_win32.h"

#include <cstring>

#include "base/win32_calls.h"

namespace {

constexpr DWORD kHeldFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFolderOptions = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
// NtCreateFile takes a name of at most 32767 units; a folder or file name is
// far shorter (the path of each holds less than 1024 bytes).
constexpr int kNameUnits = 1024;

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Holds the drive root, "X:\": nothing can rename it, but every folder below
// is opened relative to it. Refused for a network drive, whose server could
// serve other bytes later than those the launcher checked.
HANDLE HoldDriveRoot(const char* path) {
  const char root[] = {path[0], ':', '\\', '\0'};
  if (gWin32.GetDriveTypeA(root) == DRIVE_REMOTE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  return gWin32.CreateFileA(root, GENERIC_READ, kHeldFolderShare, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

bool IsNameSurrogate(HANDLE handle, const char* path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!gWin32.GetFileInformationByHandle(handle, &info)) return true;
  const DWORD pathAttributes = gWin32.GetFileAttributesA(path);
  if (pathAttributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!IsReparsePoint(info.dwFileAttributes) && !IsReparsePoint(pathAttributes)) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!gWin32.GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  // Wine's handle is the link's target: no tag, though the path is a link.
  return tag.ReparseTag == 0 || IsReparseTagNameSurrogate(tag.ReparseTag);
}

HANDLE OpenInFolder(HANDLE folder, const char* name, DWORD access, DWORD share, DWORD disposition, DWORD options,
                    void* security, bool* created) {
  WCHAR wide[kNameUnits];
  const int units = gWin32.MultiByteToWideChar(CP_ACP, 0, name, -1, wide, kNameUnits);
  if (units <= 1) return INVALID_HANDLE_VALUE;  // the conversion's last error stands
  UNICODE_STRING text;
  text.Buffer = wide;
  text.Length = static_cast<USHORT>((units - 1) * sizeof(WCHAR));
  text.MaximumLength = static_cast<USHORT>(units * sizeof(WCHAR));
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, security);
  IO_STATUS_BLOCK status;
  std::memset(&status, 0, sizeof status);
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS result = gWin32.NtCreateFile(&handle, access | SYNCHRONIZE, &object, &status, nullptr,
                                              FILE_ATTRIBUTE_NORMAL, share, disposition,
                                              options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result < 0) {
    SetLastError(gWin32.RtlNtStatusToDosError(result));
    return INVALID_HANDLE_VALUE;
  }
  if (created) *created = status.Information == FILE_CREATED;
  return handle;
}

bool HoldFolderPath(const char* path, HeldFolders* held) {
  const bool drivePath = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                         path[1] == ':' && (path[2] == '\0' || path[2] == '\\');
  if (!drivePath) {
    SetLastError(ERROR_NOT_SUPPORTED);  // a network path, or none the launcher makes
    return false;
  }
  HANDLE root = HoldDriveRoot(path);
  if (root == INVALID_HANDLE_VALUE) return false;
  held->handles[held->count++] = root;

  // Each folder relative to the one above it, named by the bytes between two
  // backslashes; the path up to it is kept for Wine's look at links.
  char prefix[1024];
  char name[1024];
  const char* at = path[2] == '\\' ? path + 3 : path + 2;
  while (*at != '\0') {
    const char* end = at;
    while (*end != '\0' && *end != '\\') {
      const char* next = gWin32.CharNextA(end);
      end = next > end ? next : end + 1;
    }
    const size_t nameLength = static_cast<size_t>(end - at);
    const size_t prefixLength = static_cast<size_t>(end - path);
    if (nameLength == 0 || nameLength >= sizeof name || prefixLength >= sizeof prefix ||
        held->count == kMaxHeldFolders) {
      ReleaseHeldFolders(held);
      SetLastError(ERROR_BAD_PATHNAME);
      return false;
    }
    std::memcpy(name, at, nameLength);
    name[nameLength] = '\0';
    std::memcpy(prefix, path, prefixLength);
    prefix[prefixLength] = '\0';
    HANDLE folder = OpenInFolder(held->handles[held->count - 1], name, GENERIC_READ, kHeldFolderShare, FILE_OPEN,
                                 kFolderOptions, nullptr, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      ReleaseHeldFolders(held);
      SetLastError(error);
      return false;
    }
    held->handles[held->count++] = folder;
    if (IsNameSurrogate(folder, prefix)) {
      ReleaseHeldFolders(held);
      SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
    }
    at = *end == '\\' ? end + 1 : end;
  }
  return true;
}

void ReleaseHeldFolders(HeldFolders* held) {
  while (held->count > 0) gWin32.CloseHandle(held->handles[--held->count]);
  std::memset(held, 0, sizeof *held);
}
