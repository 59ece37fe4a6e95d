// What a run hands to the exit handling: its result and which text the error
// box shows for it. The steps name the text; the launcher makes it
// (DecideErrorBox, launcher/launcher_run.h), in one place.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "handoff/msiexec_command_line.h"

// Which text goes with a failure. Generic is 0, so a zeroed report asks for it.
enum class BoxText : uint32_t {
  Generic,               // the system text for the code, with the insert "1, code, line"
  None,                  // no box: the user has already seen what there was to see
  InstallerRequired,     // string 100
  CorruptOrUnsupported,  // string 101
  MsiexecSystemText,     // the system text for the code, with the msiexec path as insert
};

struct RunReport {
  ErrorPair pair;  // the run's first failure, or msiexec's exit code; code 0: nothing failed
  BoxText box;     // the text that goes with a failure
  char msiexecPath[kMsiexecPathSize];  // the insert of MsiexecSystemText; else empty
};
