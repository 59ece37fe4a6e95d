// The Win32 edge's table of system calls. Only Win32-only files include this
// (it brings <windows.h>); portable code goes through base/platform.h,
// whose Windows defaults (base/platform_win32.cpp) call through here, so
// swapping an entry below reaches every caller, portable or not.
//
// X(return type, name, parameter list, argument list, value on injected failure)
#pragma once

#include <windows.h>
#include <winternl.h>
#include <aclapi.h>
#include <wincrypt.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

// Kernel, user and COM services of start-up, files and error text.
#define MSILAUNCH_WIN32_KERNEL_CALLS(X)                                                                  \
  X(HLOCAL, LocalAlloc, (UINT flags, SIZE_T bytes), (flags, bytes), nullptr)                             \
  X(HLOCAL, LocalReAlloc, (HLOCAL block, SIZE_T bytes, UINT flags), (block, bytes, flags), nullptr)      \
  X(HLOCAL, LocalFree, (HLOCAL block), (block), block)                                                   \
  X(int, WideCharToMultiByte,                                                                            \
    (UINT codePage, DWORD flags, LPCWCH text, int units, LPSTR out, int outSize, LPCCH defaultChar,      \
     LPBOOL usedDefault),                                                                                \
    (codePage, flags, text, units, out, outSize, defaultChar, usedDefault), 0)                           \
  X(int, MultiByteToWideChar,                                                                            \
    (UINT codePage, DWORD flags, LPCCH text, int bytes, LPWSTR out, int outSize),                        \
    (codePage, flags, text, bytes, out, outSize), 0)                                                     \
  X(DWORD, FormatMessageA,                                                                               \
    (DWORD flags, LPCVOID source, DWORD id, DWORD language, LPSTR buffer, DWORD size,                    \
     va_list* arguments),                                                                                \
    (flags, source, id, language, buffer, size, arguments), 0)                                           \
  X(DWORD, GetModuleFileNameA, (HMODULE module, LPSTR buffer, DWORD size), (module, buffer, size), 0)    \
  X(HANDLE, CreateFileA,                                                                                 \
    (LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,          \
     DWORD attributes, HANDLE templateFile),                                                             \
    (path, access, share, security, disposition, attributes, templateFile), INVALID_HANDLE_VALUE)        \
  X(DWORD, GetFileSize, (HANDLE file, LPDWORD high), (file, high), INVALID_FILE_SIZE)                    \
  X(BOOL, ReadFile, (HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped),     \
    (file, buffer, size, read, overlapped), FALSE)                                                       \
  X(BOOL, WriteFile,                                                                                     \
    (HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped),                 \
    (file, buffer, size, written, overlapped), FALSE)                                                    \
  X(BOOL, CloseHandle, (HANDLE handle), (handle), FALSE)                                                 \
  X(HANDLE, FindFirstFileA, (LPCSTR path, LPWIN32_FIND_DATAA data), (path, data), INVALID_HANDLE_VALUE)  \
  X(BOOL, FindClose, (HANDLE search), (search), FALSE)                                                   \
  /* A failed step still moves on by one byte, never past the terminator, so that a loop over            \
     the text ends. */                                                                                   \
  X(LPSTR, CharNextA, (LPCSTR text), (text), const_cast<LPSTR>(text + (*text != '\0')))                  \
  X(int, LoadStringA, (HINSTANCE instance, UINT id, LPSTR buffer, int size),                             \
    (instance, id, buffer, size), 0)                                                                     \
  X(int, MessageBoxA, (HWND owner, LPCSTR text, LPCSTR caption, UINT type),                              \
    (owner, text, caption, type), 0)                                                                     \
  X(LCID, GetUserDefaultLCID, (), (), 1033)                                                              \
  X(int, CompareStringOrdinal, (LPCWCH a, int aUnits, LPCWCH b, int bUnits, BOOL ignoreCase),           \
    (a, aUnits, b, bUnits, ignoreCase), 0)                                                               \
  X(UINT, SetErrorMode, (UINT mode), (mode), 0)                                                          \
  X(HMODULE, GetModuleHandleA, (LPCSTR name), (name), nullptr)                                           \
  X(FARPROC, GetProcAddress, (HMODULE module, LPCSTR name), (module, name), nullptr)                     \
  X(HANDLE, GetCurrentProcess, (), (), nullptr)                                                          \
  X(LPWSTR, GetCommandLineW, (), (), nullptr)                                                            \
  X(void, InitCommonControls, (), (), (void)0)                                                           \
  X(HRESULT, CoInitialize, (LPVOID reserved), (reserved), E_FAIL)                                        \
  X(void, CoUninitialize, (), (), (void)0)                                                               \

// Used by more than one subsystem above (the window, the folder, the
// hand-off): messages, the system's folders, library loading, files and
// folders by name and what they are (a link or not), and registry reads.
#define MSILAUNCH_WIN32_SHARED_CALLS(X)                                                             \
  X(LRESULT, SendMessageA, (HWND window, UINT message, WPARAM wParam, LPARAM lParam),              \
    (window, message, wParam, lParam), 0)                                                           \
  X(UINT, GetSystemDirectoryA, (LPSTR buffer, UINT size), (buffer, size), 0)                        \
  X(UINT, GetWindowsDirectoryA, (LPSTR buffer, UINT size), (buffer, size), 0)                       \
  X(HMODULE, LoadLibraryA, (LPCSTR name), (name), nullptr)                                          \
  X(HMODULE, LoadLibraryExA, (LPCSTR name, HANDLE file, DWORD flags), (name, file, flags), nullptr) \
  X(BOOL, CreateDirectoryA, (LPCSTR path, LPSECURITY_ATTRIBUTES security), (path, security), FALSE) \
  X(BOOL, DeleteFileA, (LPCSTR path), (path), FALSE)                                                \
  X(BOOL, RemoveDirectoryA, (LPCSTR path), (path), FALSE)                                           \
  X(DWORD, GetFileAttributesA, (LPCSTR path), (path), INVALID_FILE_ATTRIBUTES)                      \
  X(BOOL, GetFileInformationByHandle, (HANDLE file, LPBY_HANDLE_FILE_INFORMATION info), (file, info), \
    FALSE)                                                                                          \
  X(LSTATUS, RegOpenKeyExA, (HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result),  \
    (key, subKey, options, access, result), ERROR_ACCESS_DENIED)                                    \
  X(LSTATUS, RegQueryValueExA,                                                                      \
    (HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),              \
    (key, name, reserved, type, data, size), ERROR_ACCESS_DENIED)                                   \
  X(LSTATUS, RegCloseKey, (HKEY key), (key), ERROR_INVALID_HANDLE)

// CryptoAPI: the certificate carrier's signed-message access. crypt32.dll is
// no KnownDLL, so these are never imported: their defaults load it from the
// system directory on first use (base/crypt32_win32.h).
#define MSILAUNCH_WIN32_CRYPT_CALLS(X)                                                              \
  X(HCRYPTMSG, CryptMsgOpenToDecode,                                                                \
    (DWORD encoding, DWORD flags, DWORD type, HCRYPTPROV_LEGACY provider, PCERT_INFO recipient,     \
     PCMSG_STREAM_INFO stream),                                                                     \
    (encoding, flags, type, provider, recipient, stream), nullptr)                                  \
  X(BOOL, CryptMsgUpdate, (HCRYPTMSG message, const BYTE* data, DWORD size, BOOL final),            \
    (message, data, size, final), FALSE)                                                            \
  X(BOOL, CryptMsgGetParam,                                                                         \
    (HCRYPTMSG message, DWORD parameter, DWORD index, void* data, DWORD* size),                     \
    (message, parameter, index, data, size), FALSE)                                                 \
  X(BOOL, CryptMsgClose, (HCRYPTMSG message), (message), FALSE)                                     \
  X(PCCERT_CONTEXT, CertCreateCertificateContext, (DWORD encoding, const BYTE* der, DWORD size),    \
    (encoding, der, size), nullptr)                                                                 \
  X(BOOL, CertFreeCertificateContext, (PCCERT_CONTEXT certificate), (certificate), FALSE)           \

// The product folder's path held from its drive root down, and the files in
// it made, held and deleted relative to the held folder
// (base/held_folders_win32.h). GetSecurityInfo reads who may change a
// folder that is there already.
#define MSILAUNCH_WIN32_HOLD_CALLS(X)                                                               \
  X(UINT, GetDriveTypeA, (LPCSTR root), (root), DRIVE_UNKNOWN)                                      \
  X(BOOL, GetFileInformationByHandleEx,                                                             \
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size), (file, kind, info, size), \
    FALSE)                                                                                          \
  X(BOOL, SetFileInformationByHandle,                                                               \
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size), (file, kind, info, size), \
    FALSE)                                                                                          \
  X(DWORD, GetSecurityInfo,                                                                         \
    (HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID* owner, PSID* group,     \
     PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor),                                     \
    (handle, type, which, owner, group, dacl, sacl, descriptor), ERROR_ACCESS_DENIED)

// ntdll's file creation relative to a folder handle, which kernel32 does not
// offer. ntdll is in every process already: its defaults find it there at
// run time (base/run_time_calls_win32.h), never on disk.
#define MSILAUNCH_WIN32_NTDLL_CALLS(X)                                                              \
  X(NTSTATUS, NtCreateFile,                                                                         \
    (PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK status,          \
     PLARGE_INTEGER allocation, ULONG attributes, ULONG share, ULONG disposition, ULONG options,    \
     PVOID eaBuffer, ULONG eaLength),                                                               \
    (file, access, object, status, allocation, attributes, share, disposition, options, eaBuffer,   \
     eaLength),                                                                                     \
    static_cast<NTSTATUS>(0xC0000022L))                                                             \
  X(ULONG, RtlNtStatusToDosError, (NTSTATUS status), (status), ERROR_ACCESS_DENIED)

// Functions that some Windows versions the launcher runs on lack, so never
// imported: their defaults find them at run time (base/run_time_calls_win32.h)
// in kernel32, which every process has mapped, and in shell32, loaded on
// first use; a missing one fails like the entry.
#define MSILAUNCH_WIN32_KERNEL_RUN_TIME_CALLS(X)                                                    \
  X(BOOL, SetDefaultDllDirectories, (DWORD directories), (directories), FALSE)                      \
  X(BOOL, IsWow64Process, (HANDLE process, PBOOL answer), (process, answer), FALSE)
#define MSILAUNCH_WIN32_SHELL_RUN_TIME_CALLS(X)                                                     \
  X(BOOL, SHGetSpecialFolderPathA, (HWND window, LPSTR path, int folder, BOOL create),              \
    (window, path, folder, create), FALSE)

// The window, the folder browser and the hand-off add their own groups below,
// so that each subsystem's calls read together.
// The progress window and its taskbar progress. The window's user data holds
// a pointer: SetWindowLongPtrA/GetWindowLongPtrA on x86-64; the i686 headers
// make those names macros for SetWindowLongA/GetWindowLongA, which hold one
// there, so each build has the entry the system really exports and callers
// write the Ptr names in both.
#if defined(_WIN64)
#define MSILAUNCH_WIN32_USER_DATA_CALLS(X)                                                        \
  X(LONG_PTR, SetWindowLongPtrA, (HWND window, int index, LONG_PTR value), (window, index, value), 0) \
  X(LONG_PTR, GetWindowLongPtrA, (HWND window, int index), (window, index), 0)
#else
#define MSILAUNCH_WIN32_USER_DATA_CALLS(X)                                                        \
  X(LONG, SetWindowLongA, (HWND window, int index, LONG value), (window, index, value), 0)       \
  X(LONG, GetWindowLongA, (HWND window, int index), (window, index), 0)
#endif
#define MSILAUNCH_WIN32_WINDOW_CALLS(X)                                                             \
  X(BOOL, GetVersionExA, (LPOSVERSIONINFOA version), (version), FALSE)                              \
  X(HRESULT, CoCreateInstance,                                                                      \
    (REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId, LPVOID* object),         \
    (classId, outer, context, interfaceId, object), REGDB_E_CLASSNOTREG)                            \
  X(ATOM, RegisterClassA, (const WNDCLASSA* windowClass), (windowClass), 0)                         \
  X(HCURSOR, LoadCursorA, (HINSTANCE instance, LPCSTR name), (instance, name), nullptr)             \
  X(HGLOBAL, GlobalAlloc, (UINT flags, SIZE_T bytes), (flags, bytes), nullptr)                      \
  X(LPVOID, GlobalLock, (HGLOBAL block), (block), nullptr)                                          \
  X(BOOL, GlobalUnlock, (HGLOBAL block), (block), FALSE)                                            \
  X(HGLOBAL, GlobalFree, (HGLOBAL block), (block), block)                                           \
  X(INT_PTR, DialogBoxIndirectParamA,                                                               \
    (HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND owner, DLGPROC procedure,            \
     LPARAM parameter),                                                                             \
    (instance, dialogTemplate, owner, procedure, parameter), -1)                                    \
  X(BOOL, EndDialog, (HWND window, INT_PTR result), (window, result), FALSE)                        \
  MSILAUNCH_WIN32_USER_DATA_CALLS(X)                                                                \
  X(BOOL, MapDialogRect, (HWND window, LPRECT rect), (window, rect), FALSE)                         \
  X(HWND, CreateWindowExA,                                                                          \
    (DWORD exStyle, LPCSTR className, LPCSTR text, DWORD style, int x, int y, int width,           \
     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter),                    \
    (exStyle, className, text, style, x, y, width, height, parent, menu, instance, parameter),     \
    nullptr)                                                                                        \
  X(LRESULT, SendDlgItemMessageA, (HWND window, int item, UINT message, WPARAM wParam, LPARAM lParam), \
    (window, item, message, wParam, lParam), 0)                                                     \
  X(HANDLE, LoadImageA, (HINSTANCE instance, LPCSTR name, UINT type, int width, int height, UINT flags), \
    (instance, name, type, width, height, flags), nullptr)                                          \
  X(UINT_PTR, SetTimer, (HWND window, UINT_PTR id, UINT interval, TIMERPROC procedure),             \
    (window, id, interval, procedure), 0)                                                           \
  X(BOOL, KillTimer, (HWND window, UINT_PTR id), (window, id), FALSE)                               \
  X(int, GetWindowTextA, (HWND window, LPSTR buffer, int size), (window, buffer, size), 0)          \
  X(HDC, BeginPaint, (HWND window, LPPAINTSTRUCT paint), (window, paint), nullptr)                  \
  X(BOOL, EndPaint, (HWND window, const PAINTSTRUCT* paint), (window, paint), FALSE)
// The extraction folder and the shell's folder browser. The failure value of
// CharPrevA is the start of the text, so that a walk to the left ends.
#define MSILAUNCH_WIN32_FOLDER_CALLS(X)                                                             \
  X(LPSTR, CharPrevA, (LPCSTR start, LPCSTR current), (start, current), const_cast<LPSTR>(start))   \
  X(DWORD, GetCurrentDirectoryA, (DWORD size, LPSTR buffer), (size, buffer), 0)                     \
  X(DWORD, ExpandEnvironmentStringsA, (LPCSTR source, LPSTR destination, DWORD size),              \
    (source, destination, size), 0)                                                                 \
  X(HRESULT, SHGetMalloc, (IMalloc** allocator), (allocator), E_FAIL)                               \
  X(PIDLIST_ABSOLUTE, SHBrowseForFolderA, (LPBROWSEINFOA info), (info), nullptr)                    \
  X(BOOL, SHGetPathFromIDListA, (PCIDLIST_ABSOLUTE list, LPSTR path), (list, path), FALSE)          \
  X(void, CoTaskMemFree, (LPVOID block), (block), (void)0)
#define MSILAUNCH_WIN32_HANDOFF_CALLS(X)                                                            \
  X(BOOL, CreateProcessA,                                                                          \
    (LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,                 \
     LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags, LPVOID environment,          \
     LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION process),                     \
    (application, commandLine, processSecurity, threadSecurity, inherit, flags, environment,        \
     directory, startup, process),                                                                 \
    FALSE)                                                                                         \
  X(DWORD, WaitForSingleObject, (HANDLE object, DWORD milliseconds), (object, milliseconds),       \
    WAIT_FAILED)                                                                                   \
  X(BOOL, GetExitCodeProcess, (HANDLE process, LPDWORD code), (process, code), FALSE)

#define MSILAUNCH_WIN32_CALLS(X) \
  MSILAUNCH_WIN32_KERNEL_CALLS(X) \
  MSILAUNCH_WIN32_SHARED_CALLS(X) \
  MSILAUNCH_WIN32_CRYPT_CALLS(X)  \
  MSILAUNCH_WIN32_HOLD_CALLS(X)   \
  MSILAUNCH_WIN32_NTDLL_CALLS(X)  \
  MSILAUNCH_WIN32_KERNEL_RUN_TIME_CALLS(X) \
  MSILAUNCH_WIN32_SHELL_RUN_TIME_CALLS(X) \
  MSILAUNCH_WIN32_WINDOW_CALLS(X) \
  MSILAUNCH_WIN32_FOLDER_CALLS(X) \
  MSILAUNCH_WIN32_HANDOFF_CALLS(X)

struct Win32Calls {
#define MSILAUNCH_DECLARE_WIN32_ENTRY(ret, name, params, args, fail) ret(WINAPI* name) params;
  MSILAUNCH_WIN32_CALLS(MSILAUNCH_DECLARE_WIN32_ENTRY)
#undef MSILAUNCH_DECLARE_WIN32_ENTRY
};

// The table in force and the real system calls. Tests swap entries of gWin32.
extern Win32Calls gWin32;
extern const Win32Calls kWin32Defaults;
