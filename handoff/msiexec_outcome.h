// What is known of msiexec's run, and how its pairs reach the run result.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "handoff/run_state.h"

// The sites of starting and awaiting msiexec.
constexpr uint32_t kMsiexecNotStarted = 2355;  // no command line, or CreateProcessA failed
constexpr uint32_t kMsiexecFailed = 2349;      // msiexec ended with a non-zero exit code
constexpr uint32_t kMsiexecOutcomeUnknown = 2352;  // started, but its end could not be learned

struct MsiexecOutcome {
  // 1601 (ERROR_INSTALL_SERVICE_FAILURE) until msiexec has run and its exit
  // code has been read.
  uint32_t exitCode;
  // Non-zero when msiexec was started but the wait failed or its exit code
  // reads as still running: it may still be using the extracted files.
  uint32_t unknown;
};

constexpr MsiexecOutcome kMsiexecNotRun{ErrorCode::InstallServiceFailure, 0};

// Takes up a pair of BuildMsiexecCommandLine or LaunchMsiexec into `state`:
// the pair becomes the run result whatever its code; a non-zero exit code
// (kMsiexecFailed) also suppresses the box, since msiexec has spoken to the
// user itself; a start that failed (kMsiexecNotStarted) gets the system
// text for its code with `msiexecPath` as the insert. An unknown outcome
// leaves the text to the exit handling, which shows the code and the site.
void TakeUpMsiexecPair(ErrorPair pair, const char* msiexecPath, LauncherState* state);
