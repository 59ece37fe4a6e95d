// The CryptoAPI entries of the Win32 table (MSILAUNCH_WIN32_CRYPT_CALLS),
// linked at run time. crypt32.dll is not a KnownDLL: imported at load time
// it would be looked for first beside the launcher, where a planted copy
// would run elevated. These functions load it from the system directory
// (LoadSystemLibrary) on the first call of any of them and then call the
// function they are named after. Declared in namespace win32_defaults under
// the entries' own names, they become the table's defaults for these entries
// (base/win32_calls.cpp). Only the Win32 table uses them.
#pragma once

#include "base/win32_calls.h"

namespace win32_defaults {

// One function per entry, with the entry's exact type. When crypt32.dll
// cannot be loaded or lacks one of the group's functions, each returns the
// entry's failure value (a null handle or FALSE) with the last error of the
// failed load or look-up, and the next call tries again.
#define MSILAUNCH_DECLARE_CRYPT32_FUNCTION(ret, name, params, args, fail) ret WINAPI name params;
MSILAUNCH_WIN32_CRYPT_CALLS(MSILAUNCH_DECLARE_CRYPT32_FUNCTION)
#undef MSILAUNCH_DECLARE_CRYPT32_FUNCTION

// Tests only: forgets the resolved functions, so that the next call loads
// and resolves again (the module itself stays loaded).
void ForgetCrypt32();

}  // namespace win32_defaults
