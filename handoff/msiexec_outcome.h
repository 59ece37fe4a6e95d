// What is known of msiexec's run, and which text goes with its pair.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "handoff/run_report.h"

struct MsiexecOutcome {
  // 1601 (ERROR_INSTALL_SERVICE_FAILURE) until msiexec has run and its exit
  // code has been read.
  uint32_t exitCode;
  // Non-zero when msiexec was started but the wait failed or its exit code
  // reads as still running: it may still be using the extracted files.
  uint32_t unknown;
  // Non-zero once CreateProcessA has started msiexec.
  uint32_t started;
};

constexpr MsiexecOutcome kMsiexecNotRun{ErrorCode::InstallServiceFailure, 0, 0};

// The text that goes with a failed pair of BuildMsiexecCommandLine or
// LaunchMsiexec, told by what is known of msiexec: a start that never
// happened gets the system text naming msiexec; an end that could not be
// learned, the generic text with the code and the site; a non-zero exit code
// none, since msiexec has spoken to the user itself.
BoxText MsiexecBoxText(const MsiexecOutcome& outcome);
