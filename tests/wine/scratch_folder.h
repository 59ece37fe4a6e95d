// Folders the Wine tests make under the prefix's temporary folder and take
// away again with all they hold.
#pragma once

#include <string>
#include <vector>

// The names in `folder` (not "." and ".."), sorted; none when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

// A new braced GUID in capitals, as product codes are written: the name of a
// product folder no other test or earlier run has used.
std::string NewProductCode();

// Whether a file or folder is at `path`.
bool Exists(const std::string& path);

// Removes `path`, a file or a folder with everything below it, as far as it can.
void RemoveTree(const std::string& path);

// Makes `link` (a path of this prefix) a Unix symbolic link to `target`
// with the host's ln, which Wine runs through its Z: drive; Wine shows one to
// a folder as a reparse point, one to a file as a plain file. True once the
// link shows. RemoveUnixLink takes the link itself away again (rm), never
// what it points to: Wine's own calls would delete or move the target.
bool MakeUnixLink(const std::string& target, const std::string& link);
void RemoveUnixLink(const std::string& link);

// %TEMP%\<group>\<name>, made empty on construction and removed with its
// content on destruction, the group folder too when it is left empty.
struct ScratchFolder {
  std::string path;
  ScratchFolder(const std::string& group, const std::string& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string operator/(const std::string& name) const { return path + "\\" + name; }
};
