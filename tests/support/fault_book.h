// The bookkeeping behind both fault-injection tables (the platform seam and
// its Win32 twin): per entry a call count and an armed failure. Each table
// generates its own thunks from its X-macro list and asks ShouldFail.
#pragma once

#include <cstdint>

struct FaultEntryState {
  uint32_t calls;
  uint32_t failFrom;  // the call number that fails first; 0 = not armed
  uint32_t failTimes;
  uint32_t error;
};

struct FaultBook {
  const char* const* names;
  uint32_t count;
  FaultEntryState* states;
  void (*setLastError)(uint32_t code);
  bool fired;
};

// Counts a call of entry `index`; true (with the armed error left as the last
// error) when this call is to fail.
bool ShouldFail(FaultBook* book, uint32_t index);

// Arms `name` to fail on its nth call from now, `times` times. False for an
// unknown name or nth 0.
bool ArmFault(FaultBook* book, const char* name, uint32_t nth, uint32_t error, uint32_t times);

// Calls of `name` since the last clear (0 for an unknown name).
uint32_t FaultCallCount(const FaultBook* book, const char* name);

// Forgets counts, armed failures and whether one fired.
void ClearFaults(FaultBook* book);
