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
