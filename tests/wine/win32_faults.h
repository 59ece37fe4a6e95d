// Fault injection at the Win32 table: make one named system call fail on its
// Nth call with a chosen last error, and count calls. The twin of
// tests/support/fault_injection.h, for the entries of MSILAUNCH_WIN32_CALLS
// (base/win32_calls.h); both can be armed at once.
#pragma once

#include <cstdint>

// Arms `name` (an entry of MSILAUNCH_WIN32_CALLS, e.g. "CreateFileA") to
// fail on its `nth` call from now (1 = the next call), `times` times in a
// row, returning the entry's failure value and leaving `error` as the last
// error. Returns false for an unknown name or nth 0.
bool FailWin32Call(const char* name, uint32_t nth, uint32_t error, uint32_t times = 1);

// Calls made to `name` since the last reset, failed ones included.
uint32_t Win32CallCount(const char* name);

// True when an armed Win32 failure has fired since the last reset.
bool Win32FaultFired();

// Puts every Win32 entry back to the real function and clears counts and
// armed faults.
void ResetWin32Calls();

// Counts every Win32 entry's calls from now on without failing any.
void CountWin32Calls();

struct ScopedWin32Reset {
  ScopedWin32Reset() { ResetWin32Calls(); CountWin32Calls(); }
  ~ScopedWin32Reset() { ResetWin32Calls(); }
};

// The descriptor the launcher gives a product folder it makes, in SDDL.
constexpr char kLauncherFolderSddl[] = "O:BAG:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// Makes gWin32.GetSecurityInfo answer `sddl` for every object, until the
// table is reset. Wine neither keeps a descriptor that is set nor reports
// one: every folder reads as owned by its one user, whom the launcher does
// not trust. Tests of what happens in a folder that is as the launcher
// leaves it see it through this; the refusal of Wine's own answer is tested
// with the real call.
void SeeSecurityAs(const char* sddl = kLauncherFolderSddl);
