// The POSIX half of packer/file_io.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "packer/io/file_io.h"

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

bool IsPathSeparator(char c) { return c == '/'; }

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

std::FILE* OpenFileForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

bool MakeOneDirectory(const std::string& path, std::string* reason) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  *reason = Reason();
  return false;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool ReadEnvironmentVariable(const std::string& name, std::string* value) {
  const char* found = std::getenv(name.c_str());
  if (found == nullptr) return false;
  *value = found;
  return true;
}

void EraseTerminalLine(size_t) { std::fputs("\r\033[K", stderr); }
