#include "base/ntdll_win32.h"

namespace win32_defaults {

// Looked up on every call: the module is mapped for the life of the process,
// and a look-up costs nothing beside the file operation it serves. The
// FARPROC becomes the entry's own type through void*, the one cast that
// run-time linking cannot avoid.
#define MSILAUNCH_NTDLL_FUNCTION(ret, name, params, args, fail)                                  \
  ret WINAPI name params {                                                                       \
    HMODULE ntdll = gWin32.GetModuleHandleA("ntdll.dll");                                        \
    auto function = ntdll ? reinterpret_cast<ret(WINAPI*) params>(                               \
                                reinterpret_cast<void*>(gWin32.GetProcAddress(ntdll, #name)))    \
                          : nullptr;                                                             \
    if (!function) return fail;                                                                  \
    return function args;                                                                        \
  }
MSILAUNCH_WIN32_NTDLL_CALLS(MSILAUNCH_NTDLL_FUNCTION)
#undef MSILAUNCH_NTDLL_FUNCTION

}  // namespace win32_defaults
