// The entries of the Win32 table that are found at run time in a module the
// process has mapped, never imported (MSILAUNCH_WIN32_NTDLL_CALLS and the
// two RUN_TIME groups): ntdll's, so that the launcher imports
// nothing from it, and functions that some Windows versions the launcher
// runs on lack, so that it still starts there. Each is looked up when it is
// called, through the table's own GetModuleHandleA (LoadLibraryA for
// shell32) and GetProcAddress, so that a test fails the look-up or the entry
// itself like any other. Declared in namespace win32_defaults under the
// entries' own names, they become the table's defaults
// (base/win32_calls.cpp).
#pragma once

#include "base/win32_calls.h"

namespace win32_defaults {

// One function per entry, with the entry's exact type. When the module or
// the function is missing, each returns the entry's failure value with the
// last error of the failed look-up.
#define MSILAUNCH_DECLARE_RUN_TIME_FUNCTION(ret, name, params, args, fail) ret WINAPI name params;
MSILAUNCH_WIN32_NTDLL_CALLS(MSILAUNCH_DECLARE_RUN_TIME_FUNCTION)
MSILAUNCH_WIN32_KERNEL_RUN_TIME_CALLS(MSILAUNCH_DECLARE_RUN_TIME_FUNCTION)
MSILAUNCH_WIN32_SHELL_RUN_TIME_CALLS(MSILAUNCH_DECLARE_RUN_TIME_FUNCTION)
#undef MSILAUNCH_DECLARE_RUN_TIME_FUNCTION

}  // namespace win32_defaults

// Whether kernel32 has the function `name`, asked as the entries' defaults
// ask: for a feature that came with a function (the LOAD_LIBRARY_SEARCH_*
// flags came with SetDefaultDllDirectories).
bool KernelHasFunction(const char* name);
