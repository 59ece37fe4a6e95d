#include "base/run_time_calls_win32.h"

namespace {

// The FARPROC becomes void* here and the entry's own type below: the one
// cast that run-time linking cannot avoid.
void* FindFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<void*>(gWin32.GetProcAddress(module, name)) : nullptr;
}

// Mapped in every process: never loaded, so never looked for on disk.
HMODULE Ntdll() { return gWin32.GetModuleHandleA("ntdll.dll"); }
HMODULE Kernel32() { return gWin32.GetModuleHandleA("kernel32"); }

// Loaded when it is not mapped yet, and never freed. shell32 is a KnownDLL,
// so the load takes the system's copy whatever the search order. The error
// mode is set for the rest of the run: no box of the system's own when what
// the shell is asked about names a drive without a medium.
HMODULE Shell32() {
  HMODULE shell = gWin32.GetModuleHandleA("Shell32.dll");
  if (!shell) shell = gWin32.LoadLibraryA("Shell32.dll");
  if (shell) gWin32.SetErrorMode(SEM_NOOPENFILEERRORBOX);
  return shell;
}

}  // namespace

namespace win32_defaults {

// Looked up on every call: the module is mapped for the life of the process,
// and a look-up costs nothing beside the call it serves.
#define MSILAUNCH_RUN_TIME_FUNCTION(module, ret, name, params, args, fail)                     \
  ret WINAPI name params {                                                                      \
    auto function = reinterpret_cast<ret(WINAPI*) params>(FindFunction(module, #name));         \
    if (!function) return fail;                                                                 \
    return function args;                                                                       \
  }
#define MSILAUNCH_NTDLL_FUNCTION(ret, name, params, args, fail) \
  MSILAUNCH_RUN_TIME_FUNCTION(Ntdll(), ret, name, params, args, fail)
#define MSILAUNCH_KERNEL_FUNCTION(ret, name, params, args, fail) \
  MSILAUNCH_RUN_TIME_FUNCTION(Kernel32(), ret, name, params, args, fail)
#define MSILAUNCH_SHELL_FUNCTION(ret, name, params, args, fail) \
  MSILAUNCH_RUN_TIME_FUNCTION(Shell32(), ret, name, params, args, fail)
MSILAUNCH_WIN32_NTDLL_CALLS(MSILAUNCH_NTDLL_FUNCTION)
MSILAUNCH_WIN32_KERNEL_RUN_TIME_CALLS(MSILAUNCH_KERNEL_FUNCTION)
MSILAUNCH_WIN32_SHELL_RUN_TIME_CALLS(MSILAUNCH_SHELL_FUNCTION)
#undef MSILAUNCH_SHELL_FUNCTION
#undef MSILAUNCH_KERNEL_FUNCTION
#undef MSILAUNCH_NTDLL_FUNCTION
#undef MSILAUNCH_RUN_TIME_FUNCTION

}  // namespace win32_defaults

bool KernelHasFunction(const char* name) { return FindFunction(Kernel32(), name) != nullptr; }
