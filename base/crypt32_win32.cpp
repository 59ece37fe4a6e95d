#include "base/crypt32_win32.h"

#include "base/system_library_win32.h"

namespace win32_defaults {
namespace {

// The group's functions as found in the system's crypt32.dll.
struct Resolved {
#define MSILAUNCH_CRYPT32_POINTER(ret, name, params, args, fail) ret(WINAPI* name) params;
  MSILAUNCH_WIN32_CRYPT_CALLS(MSILAUNCH_CRYPT32_POINTER)
#undef MSILAUNCH_CRYPT32_POINTER
};

Resolved resolved;
bool linked = false;

// Loads crypt32.dll from the system directory and resolves every function
// of the group, or none: a half-linked group would fail in the middle of a
// signature walk instead of at its first call. The last error stays as the
// failed load or look-up left it.
bool Link() {
  if (linked) return true;
  HMODULE module = LoadSystemLibrary("crypt32.dll");
  if (!module) return false;
  Resolved found{};
  // GetProcAddress's FARPROC becomes the entry's own type: the one cast that
  // run-time linking cannot avoid, made through void* as the other run-time
  // entries' defaults make it (base/run_time_calls_win32.cpp).
#define MSILAUNCH_CRYPT32_RESOLVE(ret, name, params, args, fail)                               \
  found.name = reinterpret_cast<ret(WINAPI*) params>(                                          \
      reinterpret_cast<void*>(gWin32.GetProcAddress(module, #name)));                          \
  if (!found.name) return false;
  MSILAUNCH_WIN32_CRYPT_CALLS(MSILAUNCH_CRYPT32_RESOLVE)
#undef MSILAUNCH_CRYPT32_RESOLVE
  resolved = found;
  linked = true;
  return true;
}

}  // namespace

#define MSILAUNCH_CRYPT32_FUNCTION(ret, name, params, args, fail) \
  ret WINAPI name params {                                       \
    if (!Link()) return fail;                                    \
    return resolved.name args;                                   \
  }
MSILAUNCH_WIN32_CRYPT_CALLS(MSILAUNCH_CRYPT32_FUNCTION)
#undef MSILAUNCH_CRYPT32_FUNCTION

void ForgetCrypt32() {
  resolved = Resolved{};
  linked = false;
}

}  // namespace win32_defaults
