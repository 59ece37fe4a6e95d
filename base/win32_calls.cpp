// The real system functions behind the Win32 table. Each entry points at the
// import itself, so a default adds no code between the caller and the system
// and the last error is whatever the system left.
#include "base/win32_calls.h"

const Win32Calls kWin32Defaults = {
#define MSILAUNCH_WIN32_DEFAULT(ret, name, params, args, fail) ::name,
    MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_DEFAULT)
#undef MSILAUNCH_WIN32_DEFAULT
};

Win32Calls gWin32 = kWin32Defaults;
