#include "tests/support/fault_injection.h"

#include "base/platform.h"
#include "tests/support/fault_book.h"

namespace {

enum EntryIndex : uint32_t {
#define MSILAUNCH_ENTRY_INDEX(ret, name, params, args, fail) k##name,
  MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_ENTRY_INDEX)
#undef MSILAUNCH_ENTRY_INDEX
      kEntryCount
};

const char* const kNames[] = {
#define MSILAUNCH_ENTRY_NAME(ret, name, params, args, fail) #name,
    MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_ENTRY_NAME)
#undef MSILAUNCH_ENTRY_NAME
};

FaultEntryState states[kEntryCount];
void SetPlatformLastError(uint32_t code) { kPlatformDefaults.SetLastErrorCode(code); }
FaultBook book = {kNames, kEntryCount, states, SetPlatformLastError, false};
int64_t outstanding = 0;

// One thunk per entry: count, maybe fail, else call the default.
#define MSILAUNCH_ENTRY_THUNK(ret, name, params, args, fail) \
  ret Thunk##name params {                                  \
    if (ShouldFail(&book, k##name)) return fail;           \
    return kPlatformDefaults.name args;                     \
  }
MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_ENTRY_THUNK)
#undef MSILAUNCH_ENTRY_THUNK

// Block accounting wraps the thunks of the heap calls.
void* CountingAlloc(uint32_t size, uint32_t flags) {
  void* block = ThunkAllocBlock(size, flags);
  if (block) ++outstanding;
  return block;
}
void* CountingGrow(void* block, uint32_t size, uint32_t flags) {
  void* grown = ThunkGrowBlock(block, size, flags);
  if (grown && !block) ++outstanding;
  return grown;
}
void CountingFree(void* block) {
  if (block) --outstanding;
  ThunkFreeBlock(block);
}

void InstallThunks() {
  // Entries a test has replaced with a fake of its own keep the fake.
#define MSILAUNCH_ENTRY_INSTALL(ret, name, params, args, fail) \
  if (gPlatform.name == kPlatformDefaults.name) gPlatform.name = Thunk##name;
  MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_ENTRY_INSTALL)
#undef MSILAUNCH_ENTRY_INSTALL
  if (gPlatform.AllocBlock == ThunkAllocBlock) gPlatform.AllocBlock = CountingAlloc;
  if (gPlatform.GrowBlock == ThunkGrowBlock) gPlatform.GrowBlock = CountingGrow;
  if (gPlatform.FreeBlock == ThunkFreeBlock) gPlatform.FreeBlock = CountingFree;
}

}  // namespace

bool FailPlatformCall(const char* name, uint32_t nth, uint32_t error, uint32_t times) {
  if (nth == 0) return false;
  InstallThunks();
  return ArmFault(&book, name, nth, error, times);
}

uint32_t PlatformCallCount(const char* name) { return FaultCallCount(&book, name); }

bool PlatformFaultFired() { return book.fired; }

void ResetPlatformCalls() {
  gPlatform = kPlatformDefaults;
  ClearFaults(&book);
  outstanding = 0;
}

void CountPlatformCalls() { InstallThunks(); }

int64_t OutstandingBlocks() { return outstanding; }
