#include "packer/io/file_io.h"

namespace {

size_t LastSeparator(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsPathSeparator(path[i - 1])) return i - 1;
  return std::string::npos;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeDirectories(const std::string& path, std::string* error) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = start;
    while (slash < path.size() && !IsPathSeparator(path[slash])) ++slash;
    const std::string partial = path.substr(0, slash);
    std::string reason;
    if (!partial.empty() && !MakeOneDirectory(partial, &reason)) {
      *error = "cannot create directory " + partial + ": " + reason;
      return false;
    }
    start = slash + 1;
  }
  if (!IsDirectory(path)) {
    *error = path + " is not a directory";
    return false;
  }
  return true;
}
