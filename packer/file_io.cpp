#include "packer/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string Reason() { return std::strerror(errno); }

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + Reason();
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = path + " is not a regular file";
    close(fd);
    return false;
  }
  bytes->resize(static_cast<size_t>(info.st_size));
  size_t got = 0;
  while (got < bytes->size()) {
    ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = "cannot read " + path + ": " + (n < 0 ? Reason() : std::string("file shrank while reading"));
      close(fd);
      bytes->clear();
      return false;
    }
    got += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode,
                         std::string* error) {
  // The temporary file lives in the target's directory so that the rename
  // stays on one file system and is atomic.
  std::string temporary = DirectoryOf(path) + "/." + BaseNameOf(path) + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) {
    *error = "cannot create a file beside " + path + ": " + Reason();
    return false;
  }
  bool written = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  std::string reason = written ? std::string() : Reason();
  if (written && fchmod(fd, mode) != 0) {
    written = false;
    reason = Reason();
  }
  if (close(fd) != 0 && written) {
    written = false;
    reason = Reason();
  }
  if (written && rename(temporary.c_str(), path.c_str()) != 0) {
    written = false;
    reason = Reason();
  }
  if (!written) {
    unlink(temporary.c_str());
    *error = "cannot write " + path + ": " + reason;
  }
  return written;
}

bool MakeDirectories(const std::string& path, std::string* error) {
  std::string partial;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    partial = path.substr(0, slash);
    if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create directory " + partial + ": " + Reason();
      return false;
    }
    start = slash + 1;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = path + " is not a directory";
    return false;
  }
  return true;
}

void StartProgress(ProgressBar* bar, const std::string& label, uint64_t total) {
  *bar = ProgressBar();
  bar->label = label;
  bar->total = total;
  bar->visible = total >= kProgressThreshold && isatty(STDERR_FILENO);
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
  std::fprintf(stderr, "\r%s [%s] %3d%%", bar->label.c_str(), cells, percent);
  std::fflush(stderr);
}

void FinishProgress(ProgressBar* bar) {
  if (!bar->visible) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  bar->visible = false;
}
