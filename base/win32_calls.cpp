// The real system functions behind the Win32 table. An entry's default is
// the import itself, so it adds no code between the caller and the system
// and the last error is whatever the system left; the exceptions are
// functions of DLLs that must not be imported at load time (crypt32.dll, see
// base/crypt32_win32.h), whose defaults link them at run time.
#include "base/win32_calls.h"

#include "base/crypt32_win32.h"
#include "base/run_time_calls_win32.h"

namespace win32_defaults {

// Inside this namespace an entry's unqualified name finds a default declared
// here under that name before the system's own declaration, and the import
// for every other entry: a group linked at run time needs no list of its own
// here, and an entry added to any group gets the import without a change.
Win32Calls SystemTable() {
  return Win32Calls{
#define MSILAUNCH_WIN32_DEFAULT(ret, name, params, args, fail) name,
      MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_DEFAULT)
#undef MSILAUNCH_WIN32_DEFAULT
  };
}

}  // namespace win32_defaults

const Win32Calls kWin32Defaults = win32_defaults::SystemTable();

Win32Calls gWin32 = kWin32Defaults;
