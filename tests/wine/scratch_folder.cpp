#include "tests/wine/scratch_folder.h"

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, "..")) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string NewProductCode() {
  GUID guid;
  CoCreateGuid(&guid);
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::string& path) {
  for (const std::string& name : FolderEntries(path)) RemoveTree(path + "\\" + name);
  if (!RemoveDirectoryA(path.c_str())) DeleteFileA(path.c_str());
}

namespace {

std::string UnixName(const std::string& path) {
  using UnixFileName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
  char* name = unixName ? unixName(wide) : nullptr;
  const std::string text = name ? name : "";
  if (name) HeapFree(GetProcessHeap(), 0, name);
  return text;
}

// Runs `command` with the host's shell. Wine does not wait for a Unix
// process, so the caller waits until `link` shows (or is gone).
bool RunShellUntil(const std::string& command, const std::string& link, bool shows) {
  std::string line = "/bin/sh -c \"" + command + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 500; ++i, Sleep(10))
    if (Exists(link) == shows) return true;
  return false;
}

}  // namespace

bool MakeUnixLink(const std::string& target, const std::string& link) {
  return RunShellUntil("ln -s '" + UnixName(target) + "' '" + UnixName(link) + "'", link, true);
}

void RemoveUnixLink(const std::string& link) { RunShellUntil("rm -f '" + UnixName(link) + "'", link, false); }

ScratchFolder::ScratchFolder(const std::string& group, const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string groupPath = std::string(temp) + group;
  CreateDirectoryA(groupPath.c_str(), nullptr);
  path = groupPath + "\\" + name;
  RemoveTree(path);
  CreateDirectoryA(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  RemoveTree(path);
  RemoveDirectoryA(path.substr(0, path.rfind('\\')).c_str());  // the last one out
}
