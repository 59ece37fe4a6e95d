#include "ui/extraction_folder_win32.h"

#include <cstring>

#include "base/bounded_text.h"
#include "base/folder_security.h"
#include "base/held_folders_win32.h"
#include "base/system_win32.h"
#include "base/win32_calls.h"
#include "package/file_writer.h"

namespace {

constexpr char kInstallerFolderName[] = "Installer";
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr char kDocumentsValueName[] = "Personal";
constexpr int kDocumentsFolder = CSIDL_PERSONAL;

enum class Browsed { Folder, NoFolder, Cancelled };

bool SameContent(const FileItem& a, const FileItem& b) {
  return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
}

// Sets the item's path in `folder` and keeps or makes its file there,
// relative to the held product folder (KeepOrMakeFileItem). False when the
// path does not fit or the file cannot be created.
bool PrepareItem(FileSet* set, int32_t index, const char* folder) {
  FileItem& item = set->items[index];
  if (!JoinPath(item.path, sizeof item.path, folder, item.name)) return false;
  // A cabinet that the manifest names twice: the earlier item writes the file.
  for (int32_t i = 0; i < index; ++i)
    if (std::strcmp(set->items[i].path, item.path) == 0) return SameContent(set->items[i], item);
  return KeepOrMakeFileItem(set->folder, &item);
}

// Undoes a failed attempt: closes and deletes the files it created (a file
// that replaced one already there goes too: the one before was deleted when
// this one was made), closes the files it kept and the product folder, clears
// every item's handle, written and path, removes the product folder when it
// is empty, and lets the base folder's path go. `productFolder` is null
// unless the attempt made or held it: a base folder is never taken for it.
void RollBackAttempt(FileSet* set, HeldFolders* held, const char* productFolder) {
  for (int32_t i = 0; i < set->count; ++i) {
    FileItem& item = set->items[i];
    // Only a file this attempt created goes; one it kept stays as it was.
    if (CloseFileItem(&item)) DeleteFileItem(set->folder, item);
    item.written = 0;
    std::memset(item.path, 0, sizeof item.path);
  }
  // Released first: a held folder cannot be removed. Its base is still held,
  // so the path names the folder this attempt held (or, were it swapped,
  // the link in its place, which goes itself).
  CloseProductFolder(set);
  if (productFolder) gWin32.RemoveDirectoryA(productFolder);
  ReleaseHeldFolders(held);
}

// Opens `productCode` inside the held base folder `base`, making it with a
// DACL only administrators can change when it is missing; `path` is its
// whole path. An existing folder is taken only when it is no link and
// nobody but Administrators, SYSTEM and TrustedInstaller can change it or
// what is in it: a package left there is read by later repairs with SYSTEM
// rights. Returns the held folder, or INVALID_HANDLE_VALUE.
HANDLE OpenProductFolder(HANDLE base, const char* productCode, const char* path, bool* made) {
  uint8_t security[kProtectedFolderSecuritySize];
  BuildProtectedFolderSecurity(MutableByteView{security, sizeof security});
  HANDLE folder = OpenInFolder(base, productCode, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_OPEN_IF, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, security, made);
  if (folder == INVALID_HANDLE_VALUE || *made) return folder;
  bool trusted = false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!IsNameSurrogate(folder, path) &&
      gWin32.GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                             nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
    // The pointers lie inside the descriptor the system made; each view is
    // bounded by what its own header says, as the system itself reads them.
    const ByteView ownerView{static_cast<const uint8_t*>(owner), owner ? GetLengthSid(owner) : 0u};
    const ByteView daclView{reinterpret_cast<const uint8_t*>(dacl), dacl ? dacl->AclSize : 0u};
    trusted = OnlyAdministratorsMayChange(ownerView, dacl != nullptr, daclView);
  }
  if (descriptor) gWin32.LocalFree(descriptor);
  if (trusted) return folder;
  gWin32.CloseHandle(folder);
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

// One attempt under the base folder in `folderPath`, which becomes the
// product folder. Every folder of the base's path is held first, from the
// drive root down, and stays held with the product folder until msiexec has
// ended: nothing on the path msiexec is given can be renamed, removed or
// swapped for a link meanwhile, and every file is made, compared and deleted
// relative to the held product folder. False, with the attempt rolled back,
// when it failed.
bool TryProductFolder(FileSet* set, HeldFolders* held, const char* productCode, char* folderPath) {
  char base[kFolderPathSize];
  size_t length = 0;
  bool made = false, opened = false;
  if (AppendFormat(base, sizeof base, &length, "%s", folderPath) &&
      AppendPathPart(folderPath, kFolderPathSize, productCode) && HoldFolderPath(base, held)) {
    HANDLE folder = OpenProductFolder(held->handles[held->count - 1], productCode, folderPath, &made);
    opened = folder != INVALID_HANDLE_VALUE;
    if (opened) set->folder = folder;
  }
  bool ready = opened;
  for (int32_t i = 0; ready && i < set->count; ++i) ready = PrepareItem(set, i, folderPath);
  if (!ready) RollBackAttempt(set, held, made || opened ? folderPath : nullptr);
  return ready;
}

// Puts `%WINDIR%\Installer` into `folderPath`, creating it when missing.
// False when the Windows folder is unknown or the path does not fit: a
// drive-relative "\<product code>" would depend on the current drive.
bool UseInstallerFolder(char* folderPath) {
  const UINT length = gWin32.GetWindowsDirectoryA(folderPath, kFolderPathSize);
  if (length == 0 || length >= kFolderPathSize || !IsAbsoluteFolderPath(folderPath) ||
      !AppendPathPart(folderPath, kFolderPathSize, kInstallerFolderName)) {
    std::memset(folderPath, 0, kFolderPathSize);
    return false;
  }
  if (!PathExists(folderPath)) gWin32.CreateDirectoryA(folderPath, nullptr);
  return true;
}

// Cuts the backslashes at the end of `path`, walking left by characters so
// that the trail byte 0x5C of a double-byte character is never taken for one.
void StripTrailingBackslashes(char* path) {
  char* end = path + std::strlen(path);
  while (end > path) {
    char* last = gWin32.CharPrevA(path, end);
    if (last >= end || *last != '\\') break;
    *last = '\0';
    end = last;
  }
}

// Shows the folder browser and puts the chosen folder's path, without
// trailing backslashes, into `folderPath` (emptied first).
Browsed BrowseForBaseFolder(const char* browseTitle, char* folderPath) {
  char defaultFolder[kFolderPathSize];
  GetDefaultBrowseFolder(defaultFolder, sizeof defaultFolder);
  char title[kFolderPathSize] = {};
  size_t titleLength = 0;
  AppendFormat(title, sizeof title, &titleLength, "%s", browseTitle);  // cut only shortens the title line

  BROWSEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.lpszTitle = title;
  info.lpfn = BrowseCallbackProc;
  info.lParam = reinterpret_cast<LPARAM>(defaultFolder);

  IMalloc* allocator = nullptr;
  if (FAILED(gWin32.SHGetMalloc(&allocator))) allocator = nullptr;
  Browsed browsed = Browsed::Cancelled;
  if (PIDLIST_ABSOLUTE chosen = gWin32.SHBrowseForFolderA(&info)) {
    std::memset(folderPath, 0, kFolderPathSize);
    const BOOL converted = gWin32.SHGetPathFromIDListA(chosen, folderPath);
    // The shell's allocator is COM's task allocator; without it, free there.
    if (allocator)
      allocator->Free(chosen);
    else
      gWin32.CoTaskMemFree(chosen);
    folderPath[kFolderPathSize - 1] = '\0';
    if (converted) StripTrailingBackslashes(folderPath);
    browsed = converted && IsAbsoluteFolderPath(folderPath) ? Browsed::Folder : Browsed::NoFolder;
  }
  if (allocator) allocator->Release();
  return browsed;
}

// Expands `text` into `dest` (`size` bytes, zero-filled first). False, with
// `dest` empty, when the text or its expansion is empty, or it does not fit.
bool ExpandInto(const char* text, char* dest, uint32_t size) {
  if (size == 0) return false;
  std::memset(dest, 0, size);
  if (text[0] == '\0') return false;
  const DWORD needed = gWin32.ExpandEnvironmentStringsA(text, dest, size);
  if (needed != 0 && needed <= size && dest[size - 1] == '\0' && dest[0] != '\0') return true;
  std::memset(dest, 0, size);
  return false;
}

// The "Personal" value of the user's shell folders, when it is a string.
// `buffer` has kFolderPathSize bytes; its last byte stays the terminator of
// a value stored without one.
bool ReadDocumentsValue(char* buffer) {
  std::memset(buffer, 0, kFolderPathSize);
  HKEY key = nullptr;
  if (gWin32.RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  DWORD type = REG_NONE;
  DWORD bytes = kFolderPathSize - 1;
  const LSTATUS status =
      gWin32.RegQueryValueExA(key, kDocumentsValueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  gWin32.RegCloseKey(key);
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) return true;
  std::memset(buffer, 0, kFolderPathSize);
  return false;
}

bool ReadCurrentDirectory(char* buffer) {
  std::memset(buffer, 0, kFolderPathSize);
  const DWORD length = gWin32.GetCurrentDirectoryA(kFolderPathSize, buffer);
  if (length != 0 && length < kFolderPathSize) return true;
  std::memset(buffer, 0, kFolderPathSize);
  return false;
}

// Expands `text` into `dest` as ExpandInto does, and keeps it only when it
// names something that exists: the elevated launcher proposes no folder it
// would have to make, and makes none that a value of the user's own
// registry names.
bool ExpandExisting(const char* text, char* dest, uint32_t size) {
  if (ExpandInto(text, dest, size) && PathExists(dest)) return true;
  std::memset(dest, 0, size);
  return false;
}

}  // namespace

ErrorPair PrepareExtractionFolder(FileSet* fileSet, HeldFolders* held, const char* productCode,
                                  const char* browseTitle, uint32_t unattended, char* folderPath) {
  bool ready = UseInstallerFolder(folderPath) && TryProductFolder(fileSet, held, productCode, folderPath);
  while (!ready) {
    const Browsed browsed = unattended ? Browsed::Cancelled : BrowseForBaseFolder(browseTitle, folderPath);
    constexpr uint32_t kBrowserCancelled = 2219;  // cancelled or closed
    if (browsed == Browsed::Cancelled) {
      // Empty, so that the cleanup takes no folder of a failed attempt for the extraction folder.
      std::memset(folderPath, 0, kFolderPathSize);
      return MakeErrorPair(nullptr, ErrorCode::Cancelled, kBrowserCancelled);
    }
    ready = browsed == Browsed::Folder && TryProductFolder(fileSet, held, productCode, folderPath);
  }
  return ErrorPair{ErrorCode::Success, 0};
}

void GetDefaultBrowseFolder(char* dest, uint32_t size) {
  std::memset(dest, 0, size);
  char found[kFolderPathSize];
  std::memset(found, 0, sizeof found);
  if (gWin32.SHGetSpecialFolderPathA(nullptr, found, kDocumentsFolder, FALSE) && ExpandExisting(found, dest, size))
    return;
  if (ReadDocumentsValue(found) && ExpandExisting(found, dest, size)) return;
  if (ReadCurrentDirectory(found)) ExpandExisting(found, dest, size);
}

int CALLBACK BrowseCallbackProc(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) gWin32.SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}
