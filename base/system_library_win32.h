// Loading system DLLs without looking where others can write. The launcher
// runs elevated from a folder such as Downloads: a DLL found by the default
// search there (the application's folder comes first) would run with
// administrator rights. Only the KnownDLLs are safe from that whatever the
// search; every other system DLL is taken from the system directory only.
#pragma once

#include <windows.h>

// Makes the system directory the only place the process's later DLL loads
// look in (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32),
// which also covers DLLs that system code loads on the launcher's behalf.
// The function is looked up at run time; on a system without it nothing
// changes. Reports nothing: the run goes on the same either way.
void RestrictDllSearchToSystemDirectory();

// Loads `fileName` (a bare name such as "crypt32.dll") from the system
// directory only: with LOAD_LIBRARY_SEARCH_SYSTEM32 where the system knows
// that flag (it has SetDefaultDllDirectories), else by its full path in
// GetSystemDirectoryA with LOAD_WITH_ALTERED_SEARCH_PATH, so that its own
// dependencies are looked for beside it and not beside the launcher.
// Returns the module, which stays loaded for the rest of the process, or
// null with the failing call's last error (ERROR_FILENAME_EXCED_RANGE when
// the full path would not fit in MAX_PATH).
HMODULE LoadSystemLibrary(const char* fileName);
