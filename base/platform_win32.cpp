// Windows defaults of the platform seam. Each one is a thin adapter that
// calls the system through the Win32 table (base/win32_calls.h), so a
// test that swaps a Win32 entry reaches portable and Win32-only callers
// alike. Unless a comment says otherwise, an adapter leaves the last error
// exactly as the system call left it.
#include "base/platform.h"
#include "base/win32_calls.h"
#include "base/signed_message_cryptoapi.h"
#include "base/held_folders_win32.h"
#include "base/system_win32.h"

namespace {

UINT ZeroFlag(uint32_t flags) { return (flags & kBlockZeroed) ? LMEM_ZEROINIT : 0; }

void* DefaultAllocBlock(uint32_t size, uint32_t flags) {
  return gWin32.LocalAlloc(LMEM_FIXED | ZeroFlag(flags), size);
}

// LocalReAlloc refuses a null block; growing nothing is allocating, as in the
// native twin.
void* DefaultGrowBlock(void* block, uint32_t size, uint32_t flags) {
  if (!block) return DefaultAllocBlock(size, flags);
  return gWin32.LocalReAlloc(block, size, LMEM_MOVEABLE | ZeroFlag(flags));
}

// Preserves the last error: blocks are released on failure paths, possibly
// before the failing step's code has been taken.
void DefaultFreeBlock(void* block) {
  if (!block) return;
  const DWORD saved = GetLastError();
  gWin32.LocalFree(block);
  SetLastError(saved);
}

// The last error itself is not in the Win32 table: swapping it would make
// every injected failure lie about its code.
uint32_t DefaultLastError() { return GetLastError(); }
void DefaultSetLastErrorCode(uint32_t code) { SetLastError(code); }

int DefaultWideToAnsi(const char16_t* text, int units, char* out, int outSize) {
  static_assert(sizeof(char16_t) == sizeof(WCHAR), "UTF-16 units are WCHARs");
  return gWin32.WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(text), units, out, outSize,
                                    nullptr, nullptr);
}

// UTF-8 and GB18030 refuse the flag (ERROR_INVALID_FLAGS); they hold every
// character, so there is nothing to fit and the plain conversion is the same.
int DefaultWideToAnsiNoBestFit(const char16_t* text, int units, char* out, int outSize) {
  const auto wide = reinterpret_cast<LPCWCH>(text);
  const int stored =
      gWin32.WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, out, outSize, nullptr, nullptr);
  if (stored != 0 || GetLastError() != ERROR_INVALID_FLAGS) return stored;
  return gWin32.WideCharToMultiByte(CP_ACP, 0, wide, units, out, outSize, nullptr, nullptr);
}

const char* DefaultNextAnsiCharacter(const char* text) { return gWin32.CharNextA(text); }

int DefaultAnsiToWide(const char* text, int bytes, char16_t* out, int outUnits) {
  static_assert(sizeof(char16_t) == sizeof(WCHAR), "UTF-16 units are WCHARs");
  return gWin32.MultiByteToWideChar(CP_ACP, 0, text, bytes, reinterpret_cast<LPWSTR>(out), outUnits);
}

// There is no argument list, so inserts must be ignored: without the flag
// FormatMessageA would read "%1" and the like from arguments that do not
// exist. Such a text comes back with its inserts, and FormatErrorText then
// shows the code as "Error N".
uint32_t DefaultSystemMessageText(uint32_t code, char* buffer, uint32_t size) {
  constexpr DWORD kNeutralLanguage = 1024;  // MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)
  return gWin32.FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                               kNeutralLanguage, buffer, size, nullptr);
}

uint32_t DefaultModuleFileName(char* buffer, uint32_t capacity) {
  return gWin32.GetModuleFileNameA(nullptr, buffer, capacity);
}

int DefaultWriteFileBytes(void* handle, const uint8_t* data, uint32_t size, uint32_t* written) {
  DWORD stored = 0;
  const BOOL ok = gWin32.WriteFile(handle, data, size, &stored, nullptr);
  *written = stored;
  return ok ? 1 : 0;
}

int DefaultCloseFileHandle(void* handle) { return gWin32.CloseHandle(handle) ? 1 : 0; }

// A failed comparison (0) tells nothing, so the names may be one file.
int DefaultSameNameIgnoringCase(const char16_t* a, int aUnits, const char16_t* b, int bUnits) {
  const int order = gWin32.CompareStringOrdinal(reinterpret_cast<LPCWCH>(a), aUnits, reinterpret_cast<LPCWCH>(b),
                                                bUnits, TRUE);
  return order == CSTR_EQUAL || order == 0 ? 1 : 0;
}

void* DefaultOpenHeldFile(void* folder, const char* name, const char* path) {
  if (!folder) {
    HANDLE file = OpenFileToHold(path);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }
  HANDLE file = OpenInFolder(folder, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                             FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, nullptr, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (gWin32.GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    const DWORD attributes = gWin32.GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return file;
  }
  const DWORD error = GetLastError();
  gWin32.CloseHandle(file);
  SetLastError(error != ERROR_SUCCESS ? error : ERROR_CANT_ACCESS_FILE);
  return nullptr;
}

int DefaultReadFileBytes(void* handle, uint8_t* buffer, uint32_t size, uint32_t* read) {
  DWORD got = 0;
  const BOOL ok = gWin32.ReadFile(handle, buffer, size, &got, nullptr);
  *read = got;
  return ok ? 1 : 0;
}

// Opened on the entry itself and marked for deletion through its own handle:
// a link goes, never its target.
int DefaultRemoveFile(void* folder, const char* name, const char* path) {
  if (!folder) return gWin32.DeleteFileA(path) ? 1 : 0;
  HANDLE file = OpenInFolder(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                             FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, nullptr, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  const BOOL marked = gWin32.SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  const DWORD error = GetLastError();
  gWin32.CloseHandle(file);
  SetLastError(error);
  return marked ? 1 : 0;
}

void* DefaultCreateNewFile(void* folder, const char* name, const char* path) {
  HANDLE file = folder ? OpenInFolder(folder, name, GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                                      FILE_NON_DIRECTORY_FILE, nullptr, nullptr)
                       : gWin32.CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

constexpr auto DefaultOpenSignedMessage = CryptoApiOpenSignedMessage;
constexpr auto DefaultUpdateSignedMessage = CryptoApiUpdateSignedMessage;
constexpr auto DefaultGetCertificateCount = CryptoApiGetCertificateCount;
constexpr auto DefaultGetCertificateEncoding = CryptoApiGetCertificateEncoding;
constexpr auto DefaultDecodeCertificate = CryptoApiDecodeCertificate;
constexpr auto DefaultGetExtensionCount = CryptoApiGetExtensionCount;
constexpr auto DefaultGetExtension = CryptoApiGetExtension;
constexpr auto DefaultFreeCertificate = CryptoApiFreeCertificate;
constexpr auto DefaultCloseSignedMessage = CryptoApiCloseSignedMessage;

}  // namespace

// Built from the entry list itself: an entry added to the seam without a
// Windows default here fails to compile instead of leaving a null pointer.
const PlatformCalls kPlatformDefaults = {
#define MSILAUNCH_PLATFORM_DEFAULT(ret, name, params, args, fail) Default##name,
    MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_PLATFORM_DEFAULT)
#undef MSILAUNCH_PLATFORM_DEFAULT
};

PlatformCalls gPlatform = kPlatformDefaults;
