#include "tests/wine/win32_faults.h"

#include <string>

#include "base/win32_calls.h"
// After windows.h, which it needs.
#include <sddl.h>
#include "tests/support/fault_book.h"

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

FaultEntryState states[kEntryCount];
void SetWin32LastError(uint32_t code) { SetLastError(code); }
FaultBook book = {kNames, kEntryCount, states, SetWin32LastError, false};

// One thunk per entry with the system's calling convention: count, maybe
// fail, else call the real function.
#define MSILAUNCH_WIN32_THUNK(ret, name, params, args, fail) \
  ret WINAPI Thunk##name params {                          \
    if (ShouldFail(&book, k##name)) return fail;           \
    return kWin32Defaults.name args;                       \
  }
MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_THUNK)
#undef MSILAUNCH_WIN32_THUNK

void InstallThunks() {
  // Entries a test has replaced with a fake of its own keep the fake.
#define MSILAUNCH_WIN32_INSTALL(ret, name, params, args, fail) \
  if (gWin32.name == kWin32Defaults.name) gWin32.name = Thunk##name;
  MSILAUNCH_WIN32_CALLS(MSILAUNCH_WIN32_INSTALL)
#undef MSILAUNCH_WIN32_INSTALL
}

}  // namespace

bool FailWin32Call(const char* name, uint32_t nth, uint32_t error, uint32_t times) {
  if (nth == 0) return false;
  InstallThunks();
  return ArmFault(&book, name, nth, error, times);
}

uint32_t Win32CallCount(const char* name) { return FaultCallCount(&book, name); }

bool Win32FaultFired() { return book.fired; }

void ResetWin32Calls() {
  gWin32 = kWin32Defaults;
  ClearFaults(&book);
}

void CountWin32Calls() { InstallThunks(); }

namespace {

std::string seenSddl;

// Counted and failed as the entry's own thunk would be.
DWORD WINAPI SecurityAsSeen(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID* group, PACL* dacl,
                            PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (ShouldFail(&book, kGetSecurityInfo)) return ERROR_ACCESS_DENIED;
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(seenSddl.c_str(), SDDL_REVISION_1, &made, nullptr))
    return GetLastError();
  BOOL present = FALSE, defaulted = FALSE;
  if (owner) GetSecurityDescriptorOwner(made, owner, &defaulted);
  if (group) *group = nullptr;
  if (dacl && (!GetSecurityDescriptorDacl(made, &present, dacl, &defaulted) || !present)) *dacl = nullptr;
  if (sacl) *sacl = nullptr;
  *descriptor = made;
  return ERROR_SUCCESS;
}

}  // namespace

void SeeSecurityAs(const char* sddl) {
  seenSddl = sddl;
  gWin32.GetSecurityInfo = SecurityAsSeen;
}
