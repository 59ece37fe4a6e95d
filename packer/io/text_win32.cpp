#include "packer/io/text_win32.h"

#include <vector>

namespace {

// The conditions a file call of the packer meets, with the text glibc's
// strerror gives for the errno that the same condition raises on Linux.
struct ReasonRow {
  DWORD code;
  const char* text;
};
constexpr ReasonRow kReasons[] = {
    {ERROR_FILE_NOT_FOUND, "No such file or directory"},
    {ERROR_PATH_NOT_FOUND, "No such file or directory"},
    {ERROR_INVALID_DRIVE, "No such file or directory"},
    {ERROR_BAD_NETPATH, "No such file or directory"},
    {ERROR_BAD_NET_NAME, "No such file or directory"},
    {ERROR_ACCESS_DENIED, "Permission denied"},
    {ERROR_SHARING_VIOLATION, "Permission denied"},
    {ERROR_LOCK_VIOLATION, "Permission denied"},
    {ERROR_DISK_FULL, "No space left on device"},
    {ERROR_HANDLE_DISK_FULL, "No space left on device"},
    {ERROR_FILE_EXISTS, "File exists"},
    {ERROR_ALREADY_EXISTS, "File exists"},
    {ERROR_DIRECTORY, "Not a directory"},
    {ERROR_FILENAME_EXCED_RANGE, "File name too long"},
    {ERROR_INVALID_NAME, "Invalid argument"},
    {ERROR_NOT_ENOUGH_MEMORY, "Cannot allocate memory"},
    {ERROR_OUTOFMEMORY, "Cannot allocate memory"},
    {ERROR_WRITE_PROTECT, "Read-only file system"},
    {ERROR_CRC, "Input/output error"},
    {ERROR_READ_FAULT, "Input/output error"},
    {ERROR_WRITE_FAULT, "Input/output error"},
};

// CreateDirectoryW's limit, below MAX_PATH to leave room for an 8.3 name:
// from here on a path takes the prefix, whichever call it goes to.
constexpr size_t kPlainPathLimit = MAX_PATH - 12;

}  // namespace

std::string Utf8FromUtf16(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int units = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), units, &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Utf16FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int bytes = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0);
  std::wstring out(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, &out[0], size);
  return out;
}

std::wstring SystemPath(const std::string& path) {
  const std::wstring given = Utf16FromUtf8(path);
  if (given.empty()) return given;
  const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return given;
  std::vector<wchar_t> full(needed);
  const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return given;
  const std::wstring absolute(full.data(), length);
  const bool network = absolute.compare(0, 2, L"\\\\") == 0;
  // Device paths ("\\.\NUL") and paths that already opt out of the limit
  // stay as they are.
  const bool device = network && absolute.size() > 2 && (absolute[2] == L'?' || absolute[2] == L'.');
  if (absolute.size() < kPlainPathLimit || device) return absolute;
  return network ? L"\\\\?\\UNC\\" + absolute.substr(2) : L"\\\\?\\" + absolute;
}

std::string SystemErrorReason(DWORD code) {
  for (const ReasonRow& row : kReasons)
    if (row.code == code) return row.text;
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring reason = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  LocalFree(text);
  // The system's sentences end in ".\r\n"; the packer's reasons end bare.
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L'.' ||
                             reason.back() == L' '))
    reason.pop_back();
  return reason.empty() ? "error " + std::to_string(code) : Utf8FromUtf16(reason);
}
