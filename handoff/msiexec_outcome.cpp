#include "handoff/msiexec_outcome.h"

#include "base/error_text.h"

void TakeUpMsiexecPair(ErrorPair pair, const char* msiexecPath, LauncherState* state) {
  state->result = pair;
  if (pair.code == 0) return;
  if (pair.line == kMsiexecFailed) state->suppressBox = 1;
  if (pair.line == kMsiexecNotStarted)
    FormatErrorText(pair.code, state->messageText, sizeof state->messageText, msiexecPath);
}
