// Finding msiexec, starting it and waiting for it.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "handoff/msiexec_command_line.h"
#include "handoff/msiexec_outcome.h"

// Writes the system directory's "msiexec.exe" into `path` (`size` bytes).
// Nothing else is looked at: a search path begins with the launcher's own
// folder and the current directory, where an msiexec.exe placed beside a
// downloaded setup.exe would run with the launcher's administrator rights.
// (Under WOW64 the system directory is the 32-bit one, as for a search.)
// Returns (0, 2161) when the file is there; (1155 ERROR_NO_ASSOCIATION,
// 2161) with `path` empty when the directory cannot be read, the path does
// not fit or the file is missing.
ErrorPair FindMsiexec(char* path, uint32_t size);

// Starts `msiexecPath` with `commandLine` (BuildMsiexecCommandLine's; the
// system may write into it), showing its window as the low 16 bits of
// `showCommand` ask, without inherited handles, in the launcher's own
// environment, with msiexec's own folder (the system directory, where
// FindMsiexec found it) as its current directory; waits without a time limit and reads the exit
// code into `outcome`, which starts as kMsiexecNotRun and is marked started
// once the process exists. Both process handles are closed on every path.
// Pairs:
//   (0, 2349)               msiexec ended with 0;
//   (exit code, 2349)       it ended with another code; a failed read of the
//                           code leaves 1601;
//   (last error, else 89; 2355)  CreateProcessA failed;
//   (last error, else 6; 2352)   the wait failed: `outcome->unknown` is set;
//   (259, 2352)             the exit code reads STILL_ACTIVE: likewise.
ErrorPair LaunchMsiexec(const char* msiexecPath, char* commandLine, int32_t showCommand,
                        MsiexecOutcome* outcome);
