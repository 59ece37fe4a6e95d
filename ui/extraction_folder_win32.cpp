#include "ui/extraction_folder_win32.h"

#include <cstring>

#include "base/bounded_text.h"
#include "base/platform.h"
#include "base/system_win32.h"
#include "base/win32_calls.h"
#include "package/file_writer.h"

namespace {

constexpr char kInstallerFolderName[] = "Installer";
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr char kDocumentsValueName[] = "Personal";
constexpr int kDocumentsFolderCreated = CSIDL_PERSONAL | CSIDL_FLAG_CREATE;  // 0x8005

enum class Browsed { Folder, NoFolder, Cancelled };

bool SameContent(const FileItem& a, const FileItem& b) {
  return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
}

// Sets the item's path in `folder` and makes its file ready to be written.
// False when the path does not fit or the file cannot be created.
bool PrepareItem(FileSet* set, int32_t index, const char* folder) {
  FileItem& item = set->items[index];
  if (!JoinPath(item.path, sizeof item.path, folder, item.name)) return false;
  // A cabinet that the manifest names twice: the earlier item writes the file.
  // Names that differ only in letter case are not taken for the same file; the
  // second creation then fails on the first one's file, which fails the
  // attempt rather than leave either item's content unwritten.
  for (int32_t i = 0; i < index; ++i)
    if (std::strcmp(set->items[i].path, item.path) == 0) return SameContent(set->items[i], item);
  if (PathExists(item.path)) {
    // Opened on the entry itself, so a link is refused here, never read
    // through; a file with the verified bytes stays held by the very handle
    // it was compared through, until the set is released.
    item.held = platform::OpenHeldFile(item.path);
    if (item.held && HeldFileHoldsContent(item.held, item.data, item.size)) return true;
    CloseFileItem(&item);
    // Other bytes, or a link: it goes by its name (a link itself, never its
    // target), and whatever takes its place meanwhile fails the creation.
    platform::RemoveFile(item.path);
  }
  item.handle = platform::CreateNewFile(item.path);
  return item.handle != nullptr;
}

// Undoes a failed attempt: closes and deletes the files it created (a file
// that replaced one already there goes too: the one before was deleted when
// this one was made), closes the files it kept and the product folder, clears
// every item's handle, written and path, and removes the product folder when
// it is empty. `productFolder` is null unless the attempt made or held it: a
// base folder is never taken for it, and a link found in its place stays.
void RollBackAttempt(FileSet* set, const char* productFolder) {
  for (int32_t i = 0; i < set->count; ++i) {
    FileItem& item = set->items[i];
    // Only a file this attempt created goes; one it kept stays as it was.
    if (CloseFileItem(&item) && PathExists(item.path)) gWin32.DeleteFileA(item.path);
    item.written = 0;
    std::memset(item.path, 0, sizeof item.path);
  }
  // Released first: a held folder cannot be removed.
  CloseProductFolder(set);
  if (productFolder && PathExists(productFolder)) gWin32.RemoveDirectoryA(productFolder);
}

// One attempt under the base folder in `folderPath`, which becomes the
// product folder. False, with the attempt rolled back, when it failed.
bool TryProductFolder(FileSet* set, const char* productCode, char* folderPath) {
  const bool named = AppendPathPart(folderPath, kFolderPathSize, productCode);
  bool made = false, held = false;
  if (named) {
    // Whether it could be made shows when it is held. Held from here until
    // msiexec has ended, it can be neither removed nor renamed, so neither
    // swapped for a link; a link already in its place is refused here, before
    // anything is written, compared or deleted in it.
    if (!PathExists(folderPath)) made = gWin32.CreateDirectoryA(folderPath, nullptr) != FALSE;
    HANDLE folder = OpenFolderToHold(folderPath);
    held = folder != INVALID_HANDLE_VALUE;
    if (held) set->folder = folder;
  }
  bool ready = held;
  for (int32_t i = 0; ready && i < set->count; ++i) ready = PrepareItem(set, i, folderPath);
  if (!ready) RollBackAttempt(set, made || held ? folderPath : nullptr);
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

// Creates the folder at `path` level by level: every prefix that ends before
// a backslash or at the end. Prefixes that exist already (a drive's "C:")
// simply fail.
void CreateFolderLevels(const char* path) {
  char prefix[kFolderPathSize];
  for (const char* p = path;; ) {
    if (*p == '\\' || *p == '\0') {
      const size_t length = static_cast<size_t>(p - path);
      if (length > 0 && length < sizeof prefix) {
        std::memcpy(prefix, path, length);
        prefix[length] = '\0';
        gWin32.CreateDirectoryA(prefix, nullptr);
      }
    }
    if (*p == '\0') break;
    const char* next = gWin32.CharNextA(p);
    p = next > p ? next : p + 1;
  }
}

}  // namespace

ErrorPair PrepareExtractionFolder(FileSet* fileSet, const char* productCode, const char* browseTitle,
                                  char* folderPath) {
  bool ready = UseInstallerFolder(folderPath) && TryProductFolder(fileSet, productCode, folderPath);
  while (!ready) {
    const Browsed browsed = BrowseForBaseFolder(browseTitle, folderPath);
    constexpr uint32_t kBrowserCancelled = 2219;  // cancelled or closed
    if (browsed == Browsed::Cancelled) {
      // Empty, so that the cleanup takes no folder of a failed attempt for the extraction folder.
      std::memset(folderPath, 0, kFolderPathSize);
      return MakeErrorPair(nullptr, ErrorCode::Cancelled, kBrowserCancelled);
    }
    ready = browsed == Browsed::Folder && TryProductFolder(fileSet, productCode, folderPath);
  }
  return ErrorPair{ErrorCode::Success, 0};
}

void GetDefaultBrowseFolder(char* dest, uint32_t size) {
  std::memset(dest, 0, size);
  char found[kFolderPathSize];
  std::memset(found, 0, sizeof found);
  bool expanded = CallSHGetSpecialFolderPath(nullptr, found, kDocumentsFolderCreated, TRUE) &&
                  ExpandInto(found, dest, size);
  if (!expanded) expanded = ReadDocumentsValue(found) && ExpandInto(found, dest, size);
  if (!expanded) expanded = ReadCurrentDirectory(found) && ExpandInto(found, dest, size);
  if (expanded && !PathExists(dest)) CreateFolderLevels(dest);
}

BOOL CallSHGetSpecialFolderPath(HWND window, LPSTR buffer, int folderId, BOOL create) {
  HMODULE shell = gWin32.GetModuleHandleA("Shell32.dll");
  if (!shell) shell = gWin32.LoadLibraryA("Shell32.dll");
  if (!shell) return FALSE;
  gWin32.SetErrorMode(SEM_NOOPENFILEERRORBOX);
  using SHGetSpecialFolderPathFn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
  auto getSpecialFolderPath = reinterpret_cast<SHGetSpecialFolderPathFn>(
      reinterpret_cast<void*>(gWin32.GetProcAddress(shell, "SHGetSpecialFolderPathA")));
  return getSpecialFolderPath ? getSpecialFolderPath(window, buffer, folderId, create) : FALSE;
}

int CALLBACK BrowseCallbackProc(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) gWin32.SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}
