// The Windows back-end of packer/msi_database.h: the system's msi.dll, the
// Windows Installer that will install the package, reading it.
//
// msi.dll is no KnownDLL: imported, the loader would look for it beside the
// packer first, before any of our code runs, and a copy planted there (in a
// download folder, in a build agent's work folder) would run as whoever
// packs. So it is linked at run time from the system directory
// (LoadSystemLibrary), as the launcher does with crypt32, on the first
// database opened: the commands that read no MSI never load it.
#include <windows.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "base/system_library_win32.h"
#include "base/win32_calls.h"
#include "packer/msi/msi_database.h"
#include "packer/msi/msi_reader.h"
#include "packer/io/text_win32.h"

namespace {

// The functions used, with the types msi.h declares for them.
#define MSILAUNCH_MSI_CALLS(X)   \
  X(MsiOpenDatabaseW)            \
  X(MsiGetSummaryInformationW)   \
  X(MsiSummaryInfoGetPropertyW)  \
  X(MsiDatabaseOpenViewW)        \
  X(MsiViewExecute)              \
  X(MsiViewFetch)                \
  X(MsiRecordIsNull)             \
  X(MsiRecordGetStringW)         \
  X(MsiCloseHandle)

struct MsiFunctions {
#define MSILAUNCH_MSI_POINTER(name) decltype(&::name) name;
  MSILAUNCH_MSI_CALLS(MSILAUNCH_MSI_POINTER)
#undef MSILAUNCH_MSI_POINTER
};

MsiFunctions msi;
bool linked = false;

// Loads msi.dll and resolves every function, or none. False with *reason
// set.
bool LinkMsi(std::string* reason) {
  if (linked) return true;
  HMODULE module = LoadSystemLibrary("msi.dll");
  if (module == nullptr) {
    *reason = "cannot load msi.dll: " + SystemErrorReason(GetLastError());
    return false;
  }
  MsiFunctions found{};
  // GetProcAddress's FARPROC becomes the function's own type: the one cast
  // that run-time linking cannot avoid, made through void*.
#define MSILAUNCH_MSI_RESOLVE(name)                                                                           \
  found.name = reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(gWin32.GetProcAddress(module, #name))); \
  if (found.name == nullptr) {                                                                                \
    *reason = "msi.dll has no " #name;                                                                        \
    return false;                                                                                             \
  }
  MSILAUNCH_MSI_CALLS(MSILAUNCH_MSI_RESOLVE)
#undef MSILAUNCH_MSI_RESOLVE
  msi = found;
  linked = true;
  return true;
}

// One MSIHANDLE, closed on every path.
struct Handle {
  MSIHANDLE value = 0;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (value != 0) msi.MsiCloseHandle(value);
  }
};

std::string Reason(UINT code) { return SystemErrorReason(code); }

// MSIDBOPEN_READONLY, which msiquery.h spells as an LPCTSTR (narrow here).
const LPCWSTR kReadOnly = nullptr;

// Field 1 of `record` as UTF-8 ("" when null). False with *reason set.
bool RecordText(MSIHANDLE record, std::string* text, std::string* reason) {
  text->clear();
  if (msi.MsiRecordIsNull(record, 1)) return true;
  // The size comes back without the terminator, which the second call needs room for.
  wchar_t none[1] = {L'\0'};
  DWORD size = 0;
  UINT result = msi.MsiRecordGetStringW(record, 1, none, &size);
  if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS) {
    *reason = Reason(result);
    return false;
  }
  std::wstring value(static_cast<size_t>(size) + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if ((result = msi.MsiRecordGetStringW(record, 1, &value[0], &size)) != ERROR_SUCCESS) {
    *reason = Reason(result);
    return false;
  }
  value.resize(size);
  *text = Utf8FromUtf16(value);
  return true;
}

// msi.dll keeps a database's path in MAX_PATH buffers (Wine's crashes on a
// longer one; Windows' makes no promise), so a database deeper than that is
// opened from a copy in the temporary folder, removed when it is closed.
// The cabinets beside it are the packer's to read, never msi.dll's. False
// with *reason set; nothing is left behind then.
bool CopyToTemporaryFolder(const std::wstring& path, std::wstring* copy, std::string* reason) {
  wchar_t folder[MAX_PATH + 1] = L"";
  wchar_t name[MAX_PATH] = L"";
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH || !GetTempFileNameW(folder, L"msi", 0, name)) {
    *reason = "cannot make a copy in the temporary folder: " + SystemErrorReason(GetLastError());
    return false;
  }
  if (!CopyFileW(path.c_str(), name, FALSE)) {
    *reason = SystemErrorReason(GetLastError());
    DeleteFileW(name);
    return false;
  }
  *copy = name;
  return true;
}

bool NeedsCopy(const std::wstring& path) { return path.compare(0, 4, L"\\\\?\\") == 0; }

}  // namespace

struct MsiDatabase {
  MSIHANDLE handle;
  std::wstring copy;  // the temporary copy opened instead of a deep path, or ""
};

MsiDatabase* OpenMsiDatabase(const std::string& path, std::string* reason) {
  if (!LinkMsi(reason)) return nullptr;
  const std::wstring wide = SystemPath(path);
  std::wstring copy;
  if (NeedsCopy(wide) && !CopyToTemporaryFolder(wide, &copy, reason)) return nullptr;
  MSIHANDLE handle = 0;
  const UINT result = msi.MsiOpenDatabaseW(copy.empty() ? wide.c_str() : copy.c_str(), kReadOnly, &handle);
  if (result != ERROR_SUCCESS) {
    *reason = Reason(result);
    if (!copy.empty()) DeleteFileW(copy.c_str());
    return nullptr;
  }
  return new MsiDatabase{handle, copy};
}

void CloseMsiDatabase(MsiDatabase* database) {
  if (database == nullptr) return;
  msi.MsiCloseHandle(database->handle);
  if (!database->copy.empty()) DeleteFileW(database->copy.c_str());
  delete database;
}

bool ReadMsiTemplate(MsiDatabase* database, std::string* templateText, std::string* reason) {
  Handle summary;
  UINT result = msi.MsiGetSummaryInformationW(database->handle, nullptr, 0, &summary.value);
  std::wstring text(256, L'\0');
  UINT type = VT_EMPTY;
  INT number = 0;
  FILETIME time{};
  DWORD size = static_cast<DWORD>(text.size());
  if (result == ERROR_SUCCESS)
    result = msi.MsiSummaryInfoGetPropertyW(summary.value, PID_TEMPLATE, &type, &number, &time, &text[0], &size);
  if (result == ERROR_MORE_DATA) {
    text.assign(static_cast<size_t>(size) + 1, L'\0');
    size = static_cast<DWORD>(text.size());
    result = msi.MsiSummaryInfoGetPropertyW(summary.value, PID_TEMPLATE, &type, &number, &time, &text[0], &size);
  }
  if (result != ERROR_SUCCESS) {
    *reason = Reason(result);
    return false;
  }
  text.resize(type == VT_LPSTR ? size : 0);
  *templateText = Utf8FromUtf16(text);
  return true;
}

namespace {

// Runs a query that selects one column and appends every row's value in
// order. The questions of msi_database.h become their SQL here only.
bool QueryColumn(MsiDatabase* database, const std::string& sql, std::vector<std::string>* values,
                 std::string* reason) {
  Handle view;
  UINT result = msi.MsiDatabaseOpenViewW(database->handle, Utf16FromUtf8(sql).c_str(), &view.value);
  if (result == ERROR_SUCCESS) result = msi.MsiViewExecute(view.value, 0);
  while (result == ERROR_SUCCESS) {
    Handle row;
    result = msi.MsiViewFetch(view.value, &row.value);
    if (result != ERROR_SUCCESS) break;
    std::string value;
    if (!RecordText(row.value, &value, reason)) return false;
    values->push_back(value);
  }
  if (result != ERROR_NO_MORE_ITEMS) {
    *reason = Reason(result);
    return false;
  }
  return true;
}

}  // namespace

bool HasMsiTable(MsiDatabase* database, const char* table, bool* has, std::string* reason) {
  std::vector<std::string> values;
  if (!QueryColumn(database, std::string("SELECT `Name` FROM `_Tables` WHERE `Name` = '") + table + "'", &values,
                   reason))
    return false;
  *has = !values.empty();
  return true;
}

bool ReadMsiProperty(MsiDatabase* database, const char* name, std::string* value, std::string* reason) {
  std::vector<std::string> values;
  if (!QueryColumn(database, std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'",
                   &values, reason))
    return false;
  *value = values.empty() ? std::string() : values.front();
  return true;
}

bool ReadMsiColumnOrdered(MsiDatabase* database, const char* table, const char* column, const char* orderBy,
                          std::vector<std::string>* values, std::string* reason) {
  return QueryColumn(database,
                     std::string("SELECT `") + column + "` FROM `" + table + "` ORDER BY `" + orderBy + "`", values,
                     reason);
}
