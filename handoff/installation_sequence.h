// The installation sequence: from the loaded payloads to msiexec's exit code.
#pragma once

#include "handoff/run_state.h"

// Runs after a successful start-up. May set the run result, the suppress
// flag and the message text of `state`.
//
// For now this selects the package and builds its file set, so a launcher
// without a fitting package (or with a damaged file record) already fails
// with string 101 and (13, 2151); it then releases what it built. Extraction,
// the progress window, msiexec and the cleanup are still to come.
void RunInstallationSequence(LauncherState* state);
