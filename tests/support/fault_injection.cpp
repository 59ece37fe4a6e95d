#include "tests/support/fault_injection.h"

#include <cstring>

#include "launcher/platform.h"

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

struct EntryState {
  uint32_t calls;
  uint32_t failFrom;  // 0 = not armed
  uint32_t failTimes;
  uint32_t error;
};

EntryState states[kEntryCount];
bool fired = false;
int64_t outstanding = 0;

bool ShouldFail(EntryIndex index) {
  EntryState& s = states[index];
  ++s.calls;
  if (s.failFrom == 0 || s.calls < s.failFrom || s.failTimes == 0) return false;
  --s.failTimes;
  fired = true;
  kPlatformDefaults.SetLastErrorCode(s.error);
  return true;
}

// One thunk per entry: count, maybe fail, else call the default.
#define MSILAUNCH_ENTRY_THUNK(ret, name, params, args, fail) \
  ret Thunk##name params {                                  \
    if (ShouldFail(k##name)) return fail;                   \
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

int Find(const char* name) {
  for (uint32_t i = 0; i < kEntryCount; ++i)
    if (std::strcmp(kNames[i], name) == 0) return static_cast<int>(i);
  return -1;
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
  const int index = Find(name);
  if (index < 0 || nth == 0) return false;
  InstallThunks();
  EntryState& s = states[index];
  s.failFrom = s.calls + nth;
  s.failTimes = times;
  s.error = error;
  return true;
}

uint32_t PlatformCallCount(const char* name) {
  const int index = Find(name);
  return index < 0 ? 0 : states[index].calls;
}

bool PlatformFaultFired() { return fired; }

void ResetPlatformCalls() {
  gPlatform = kPlatformDefaults;
  std::memset(states, 0, sizeof states);
  fired = false;
  outstanding = 0;
}

void CountPlatformCalls() { InstallThunks(); }

int64_t OutstandingBlocks() { return outstanding; }
