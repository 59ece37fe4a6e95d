#include "handoff/cleanup_win32.h"

#include "base/bounded_text.h"
#include "base/system_win32.h"
#include "base/win32_calls.h"
#include "package/file_writer.h"

namespace {

constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr size_t kKeyNameSize = 256;  // registry key names hold at most 255 characters

// What decides whether a released item's file goes.
struct Abandonment {
  bool failedOrNeverRan;  // msiexec ended with a non-zero code, or never ran
  const char* productCode;
  uint32_t isWow64;
  void* folder;  // the held product folder the files are deleted from
};

// ReleasedItemVisitor: the item's file is closed by now, so it can go. The
// registration is asked afresh for each item.
void DeleteAbandonedFile(const FileItem& item, void* context) {
  const auto* abandonment = static_cast<const Abandonment*>(context);
  if (abandonment->failedOrNeverRan && !IsProductRegistered(abandonment->productCode, abandonment->isWow64) &&
      item.path[0] != '\0')
    DeleteFileItem(abandonment->folder, item);
}

}  // namespace

int IsProductRegistered(const char* productCode, uint32_t isWow64) {
  // Without a code the name would be the Uninstall key itself.
  if (!productCode || productCode[0] == '\0') return 0;
  char name[kKeyNameSize];
  size_t length = 0;
  if (!AppendFormat(name, sizeof name, &length, "%s\\%s", kUninstallKey, productCode)) return 0;
  const REGSAM access = KEY_READ | (isWow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  HKEY key = nullptr;
  if (gWin32.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, access, &key) != ERROR_SUCCESS) return 0;
  DWORD size = 0;
  const LSTATUS status = gWin32.RegQueryValueExA(key, "UninstallString", nullptr, nullptr, nullptr, &size);
  gWin32.RegCloseKey(key);
  return status == ERROR_SUCCESS && size > 0 ? 1 : 0;
}

void CleanUpExtraction(FileSet* files, HeldFolders* held, const MsiexecOutcome& outcome, const char* productCode,
                       uint32_t isWow64, const char* folderPath) {
  Abandonment abandonment{outcome.exitCode != 0 && !outcome.unknown, productCode, isWow64, files->folder};
  ReleaseFileSet(files, DeleteAbandonedFile, &abandonment);

  // The product folder is no longer held, its base still is: the path names
  // the folder this run used, or a link put in its place, which goes itself.
  if (!outcome.unknown && !IsProductRegistered(productCode, isWow64) && folderPath &&
      folderPath[0] != '\0' && PathExists(folderPath))
    gWin32.RemoveDirectoryA(folderPath);
  ReleaseHeldFolders(held);
}
