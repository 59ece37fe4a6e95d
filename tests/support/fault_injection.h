// Fault injection at the platform seam: make one named call fail on its Nth
// call with a chosen last error, and count calls. Used natively and under
// Wine (where the Win32 table has its own twin, tests/wine/win32_faults.h).
#pragma once

#include <cstdint>

// Arms `name` (an entry of MSILAUNCH_PLATFORM_CALLS, e.g. "AllocBlock") to
// fail on its `nth` call from now (1 = the next call), `times` times in a
// row, leaving `error` as the last error. Returns false for an unknown name.
bool FailPlatformCall(const char* name, uint32_t nth, uint32_t error, uint32_t times = 1);

// Calls made to `name` since the last reset, failed ones included.
uint32_t PlatformCallCount(const char* name);

// True when an armed failure has fired since the last reset.
bool PlatformFaultFired();

// Puts every entry back to its default and clears counts and armed faults.
void ResetPlatformCalls();

// Counts every entry's calls from now on without failing any.
void CountPlatformCalls();

// Net number of blocks from AllocBlock/GrowBlock not yet freed since the last
// reset (requires CountPlatformCalls or an armed fault).
int64_t OutstandingBlocks();

struct ScopedPlatformReset {
  ScopedPlatformReset() { ResetPlatformCalls(); CountPlatformCalls(); }
  ~ScopedPlatformReset() { ResetPlatformCalls(); }
};
