#include "tests/support/fault_book.h"

#include <cstring>

namespace {

int Find(const FaultBook* book, const char* name) {
  for (uint32_t i = 0; i < book->count; ++i)
    if (std::strcmp(book->names[i], name) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace

bool ShouldFail(FaultBook* book, uint32_t index) {
  FaultEntryState& s = book->states[index];
  ++s.calls;
  if (s.failFrom == 0 || s.calls < s.failFrom || s.failTimes == 0) return false;
  --s.failTimes;
  book->fired = true;
  book->setLastError(s.error);
  return true;
}

bool ArmFault(FaultBook* book, const char* name, uint32_t nth, uint32_t error, uint32_t times) {
  const int index = Find(book, name);
  if (index < 0 || nth == 0) return false;
  FaultEntryState& s = book->states[index];
  s.failFrom = s.calls + nth;
  s.failTimes = times;
  s.error = error;
  return true;
}

uint32_t FaultCallCount(const FaultBook* book, const char* name) {
  const int index = Find(book, name);
  return index < 0 ? 0 : book->states[index].calls;
}

void ClearFaults(FaultBook* book) {
  std::memset(book->states, 0, sizeof(FaultEntryState) * book->count);
  book->fired = false;
}
