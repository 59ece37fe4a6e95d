// The ntdll entries of the Win32 table (MSILAUNCH_WIN32_NTDLL_CALLS), found
// at run time in the ntdll.dll every process has mapped, so the launcher
// imports nothing from it and a test can fail them like any other entry.
// Declared in namespace win32_defaults under the entries' own names, they
// become the table's defaults (base/win32_calls.cpp).
#pragma once

#include "base/win32_calls.h"

namespace win32_defaults {

// One function per entry, with the entry's exact type. When ntdll lacks the
// function, each returns the entry's failure value.
#define MSILAUNCH_DECLARE_NTDLL_FUNCTION(ret, name, params, args, fail) ret WINAPI name params;
MSILAUNCH_WIN32_NTDLL_CALLS(MSILAUNCH_DECLARE_NTDLL_FUNCTION)
#undef MSILAUNCH_DECLARE_NTDLL_FUNCTION

}  // namespace win32_defaults
