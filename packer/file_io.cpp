#include "packer/file_io.h"

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

void StartProgress(ProgressBar* bar, const std::string& label, uint64_t total) {
  *bar = ProgressBar();
  bar->label = label;
  bar->total = total;
  bar->visible = total >= kProgressThreshold && StandardErrorIsTerminal();
  AdvanceProgress(bar, 0);
}

void AdvanceProgress(ProgressBar* bar, uint64_t amount) {
  bar->done += amount;
  if (!bar->visible) return;
  int percent = bar->total == 0 ? 100 : static_cast<int>(bar->done * 100 / bar->total);
  if (percent > 100) percent = 100;
  if (percent == bar->lastPercent) return;
  bar->lastPercent = percent;
  constexpr int kWidth = 40;
  char cells[kWidth + 1];
  int filled = percent * kWidth / 100;
  for (int i = 0; i < kWidth; ++i) cells[i] = i < filled ? '#' : '.';
  cells[kWidth] = '\0';
  const int drawn = std::fprintf(stderr, "\r%s [%s] %3d%%", bar->label.c_str(), cells, percent);
  if (drawn > 1) bar->drawnWidth = static_cast<size_t>(drawn - 1);
  std::fflush(stderr);
}

void FinishProgress(ProgressBar* bar) {
  if (!bar->visible) return;
  EraseTerminalLine(bar->drawnWidth);
  std::fflush(stderr);
  bar->visible = false;
}
