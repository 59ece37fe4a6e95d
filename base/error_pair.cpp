#include "base/error_pair.h"

ErrorPair MakeErrorPair(LastErrorQuery lastError, uint32_t defaultCode, uint32_t line) {
  uint32_t code = lastError ? lastError() : 0;
  if (code == 0) code = defaultCode;
  return ErrorPair{code, line};
}
