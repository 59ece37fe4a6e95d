// The packer's Windows edge speaks UTF-8 inside and UTF-16 to the system:
// command-line arguments become UTF-8 once in wmain, and every path turns
// back into UTF-16 where a file is opened. Windows files of the packer only.
#pragma once

#include <windows.h>

#include <string>

// UTF-16 to UTF-8 and back. An unpaired surrogate or a malformed byte
// becomes U+FFFD: arguments and names that cannot be converted are then
// refused by whatever looks for them, never cut short.
std::string Utf8FromUtf16(const std::wstring& text);
std::wstring Utf16FromUtf8(const std::string& text);

// `path` (UTF-8, '/' or '\' separated, relative or absolute) as the wide
// path the system's file calls take. Made absolute (GetFullPathNameW, which
// also drops trailing dots and spaces as every Win32 call would); one that
// comes near MAX_PATH gets the "\\?\" (or "\\?\UNC\") prefix, so that deep
// folders work without the system's long-path opt-in, and a shorter one
// stays as it is for callers (msi.dll) that know only plain paths. When the
// system cannot make it absolute, the path as given.
std::wstring SystemPath(const std::string& path);

// The reason a file call failed with `code`, in the words the Linux packer
// uses for the same condition (the C library's: "No such file or
// directory"), so that both systems print the same message; for a code
// without a counterpart there, the system's own text, or "error N".
std::string SystemErrorReason(DWORD code);
