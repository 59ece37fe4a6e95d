// The Windows half of packer/file_io.h: UTF-16 paths through SystemPath, so
// that non-ASCII names and folders deeper than MAX_PATH work, and failures
// worded as on Linux (SystemErrorReason).
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "packer/io/file_io.h"
#include "packer/io/text_win32.h"

namespace {

std::string LastReason() { return SystemErrorReason(GetLastError()); }

struct HandleClose {
  void operator()(void* handle) const {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
  }
};
using FileHandle = std::unique_ptr<void, HandleClose>;

struct LocalRelease {
  void operator()(void* block) const { LocalFree(block); }
};

// ReadFile and WriteFile take a DWORD; a whole file goes in pieces of this.
constexpr DWORD kPiece = 1u << 30;

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD piece = size < kPiece ? static_cast<DWORD>(size) : kPiece;
    if (!WriteFile(file, data, piece, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// A security descriptor whose protected DACL allows the current user alone:
// what mode 0600 means on Linux. Null with the last error set on failure.
std::unique_ptr<void, LocalRelease> UserOnlySecurity() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  const FileHandle tokenHolder(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> user(size > 0 ? size : 1);
  LPWSTR sid = nullptr;
  if (!GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
    return nullptr;
  const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return std::unique_ptr<void, LocalRelease>(descriptor);
}

// Makes a new file ".NAME.XXXXXX" beside `path`, *temporary being its name;
// CREATE_NEW makes a name taken by someone else cost one more attempt.
FileHandle CreateBeside(const std::string& path, SECURITY_ATTRIBUTES* security, std::string* temporary) {
  const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned long long state = GetTickCount64() ^ static_cast<unsigned long long>(GetCurrentProcessId()) << 32;
  for (int attempt = 0; attempt < 100; ++attempt) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    std::string suffix;
    for (unsigned long long digits = state >> 16; suffix.size() < 6; digits /= 36) suffix += kDigits[digits % 36];
    *temporary = DirectoryOf(path) + "/." + BaseNameOf(path) + "." + suffix;
    FileHandle file(CreateFileW(SystemPath(*temporary).c_str(), GENERIC_WRITE, 0, security, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return FileHandle(INVALID_HANDLE_VALUE);
}

}  // namespace

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  // Shared as a POSIX open is; BACKUP_SEMANTICS opens a folder too, so that
  // it is told apart from a file that is missing.
  const FileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + LastReason();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = path + " is not a regular file";
    return false;
  }
  bytes->resize(static_cast<size_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow));
  size_t got = 0;
  while (got < bytes->size()) {
    const size_t left = bytes->size() - got;
    DWORD n = 0;
    const BOOL read =
        ReadFile(file.get(), bytes->data() + got, left < kPiece ? static_cast<DWORD>(left) : kPiece, &n, nullptr);
    if (!read || n == 0) {
      *error = "cannot read " + path + ": " + (read ? std::string("file shrank while reading") : LastReason());
      bytes->clear();
      return false;
    }
    got += n;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode,
                         std::string* error) {
  std::unique_ptr<void, LocalRelease> descriptor;
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  if ((mode & 077) == 0 && (descriptor = UserOnlySecurity()) == nullptr) {
    *error = "cannot write " + path + ": " + LastReason();
    return false;
  }
  security.lpSecurityDescriptor = descriptor.get();
  std::string temporary;
  FileHandle file = CreateBeside(path, descriptor ? &security : nullptr, &temporary);
  if (file.get() == INVALID_HANDLE_VALUE) {
    *error = "cannot create a file beside " + path + ": " + LastReason();
    return false;
  }
  bool written = WriteAll(file.get(), bytes.data(), bytes.size()) && FlushFileBuffers(file.get());
  std::string reason = written ? std::string() : LastReason();
  if (!CloseHandle(file.release()) && written) {
    written = false;
    reason = LastReason();
  }
  // A move within one folder keeps the file's own DACL.
  if (written && !MoveFileExW(SystemPath(temporary).c_str(), SystemPath(path).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    written = false;
    reason = LastReason();
  }
  if (!written) {
    DeleteFileW(SystemPath(temporary).c_str());
    *error = "cannot write " + path + ": " + reason;
  }
  return written;
}

std::FILE* OpenFileForReading(const std::string& path) { return _wfopen(SystemPath(path).c_str(), L"rb"); }

void RemoveFile(const std::string& path) { DeleteFileW(SystemPath(path).c_str()); }

bool MakeOneDirectory(const std::string& path, std::string* reason) {
  const std::wstring wide = SystemPath(path);
  if (CreateDirectoryW(wide.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  const DWORD code = GetLastError();
  // A drive's root refuses to be made rather than saying it exists; a
  // server's name ("\\server") is no folder, its shares are.
  if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const bool serverName = path.size() > 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
                          path.find_first_of("/\\", 2) == std::string::npos;
  if (serverName) return true;
  *reason = SystemErrorReason(code);
  return false;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool StandardInputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The wide variable, since the narrow one is in the ANSI code page.
bool ReadEnvironmentVariable(const std::string& name, std::string* value) {
  const std::wstring wideName = Utf16FromUtf8(name);
  std::wstring wide(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), &wide[0], static_cast<DWORD>(wide.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    if (length < wide.size()) {
      wide.resize(length);
      break;
    }
    wide.resize(length);  // the size it asks for, its NUL included
  }
  *value = Utf8FromUtf16(wide);
  return true;
}

// A console without virtual-terminal processing would print an erase
// sequence as it is: the line is overwritten with spaces instead.
void EraseTerminalLine(size_t width) { std::fprintf(stderr, "\r%*s\r", static_cast<int>(width), ""); }
