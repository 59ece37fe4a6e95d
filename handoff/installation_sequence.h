// The installation sequence: from the loaded payloads to msiexec's exit code.
#pragma once

#include "handoff/run_state.h"

// Runs after a successful start-up, on the launcher's thread: creates the
// taskbar progress, selects the package, builds its file set, finds the
// system's msiexec, creates the extraction folder and the empty files, writes
// them under the progress window, runs msiexec with "/i", the extracted
// database and the launcher's own arguments, waits for it, and cleans up
// (what stays depends on msiexec's outcome and the product's registration).
//
// Sets the run result of `state` to the first failure, or to msiexec's exit
// code, and the suppress flag and the message text as the failing step
// wants them:
//   (13, 2151) string 101       no package, or no file set
//   (1155, 2161) string 100     no msiexec.exe in the system directory
//   (1223, 2219) silent         the folder browser was cancelled
//   (29, 2280) silent           the progress window ended without finishing
//   (code, 2355) system text    msiexec could not be started (or its command
//                               line would not fit: 206)
//   (code, 2352) generic text   msiexec's end could not be learned
//   (exit code, 2349) silent    msiexec ended with a non-zero exit code
void RunInstallationSequence(LauncherState* state);
