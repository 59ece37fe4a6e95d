#include "tests/wine/win32_faults.h"

#include <cstring>

#include "launcher/win32_calls.h"

namespace {

enum EntryIndex : uint32_t {
#define MSILAUNCH_WIN32_INDEX(ret, name, params, args, fail) k##name,
  MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_INDEX)
#undef MSILAUNCH_WIN32_INDEX
      kEntryCount
};

const char* const kNames[] = {
#define MSILAUNCH_WIN32_NAME(ret, name, params, args, fail) #name,
    MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_NAME)
#undef MSILAUNCH_WIN32_NAME
};

struct EntryState {
  uint32_t calls;
  uint32_t failFrom;  // 0 = not armed
  uint32_t failTimes;
  uint32_t error;
};

EntryState states[kEntryCount];
bool fired = false;

bool ShouldFail(EntryIndex index) {
  EntryState& s = states[index];
  ++s.calls;
  if (s.failFrom == 0 || s.calls < s.failFrom || s.failTimes == 0) return false;
  --s.failTimes;
  fired = true;
  SetLastError(s.error);
  return true;
}

// One thunk per entry with the system's calling convention: count, maybe
// fail, else call the real function.
#define MSILAUNCH_WIN32_THUNK(ret, name, params, args, fail) \
  ret WINAPI Thunk##name params {                          \
    if (ShouldFail(k##name)) return fail;                  \
    return kWin32Defaults.name args;                       \
  }
MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_THUNK)
#undef MSILAUNCH_WIN32_THUNK

int Find(const char* name) {
  for (uint32_t i = 0; i < kEntryCount; ++i)
    if (std::strcmp(kNames[i], name) == 0) return static_cast<int>(i);
  return -1;
}

void InstallThunks() {
  // Entries a test has replaced with a fake of its own keep the fake.
#define MSILAUNCH_WIN32_INSTALL(ret, name, params, args, fail) \
  if (gWin32.name == kWin32Defaults.name) gWin32.name = Thunk##name;
  MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_INSTALL)
#undef MSILAUNCH_WIN32_INSTALL
}

}  // namespace

bool FailWin32Call(const char* name, uint32_t nth, uint32_t error, uint32_t times) {
  const int index = Find(name);
  if (index < 0 || nth == 0) return false;
  InstallThunks();
  EntryState& s = states[index];
  s.failFrom = s.calls + nth;
  s.failTimes = times;
  s.error = error;
  return true;
}

uint32_t Win32CallCount(const char* name) {
  const int index = Find(name);
  return index < 0 ? 0 : states[index].calls;
}

bool Win32FaultFired() { return fired; }

void ResetWin32Calls() {
  gWin32 = kWin32Defaults;
  std::memset(states, 0, sizeof states);
  fired = false;
}

void CountWin32Calls() { InstallThunks(); }
