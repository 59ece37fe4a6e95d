// The launcher's Windows side: the run from the entry point to the exit
// code, and the two small probes other subsystems share.
#pragma once

#include <windows.h>

#include <cstdint>

#include "launcher/launcher_run.h"

// Non-zero when this 32-bit process runs on 64-bit Windows. Also sets the
// error mode to SEM_NOOPENFILEERRORBOX for the rest of the run. 0 when the
// system has no IsWow64Process.
uint32_t ProbeWow64();

// Reads the launcher's own file whole and hands it to the carriers. Pairs:
// (last error, else 110; 2042) open, (132; 2035) size, (last error, else 8;
// 2030) memory, (30; 2023) read, else the carriers' pair.
ErrorPair ReadOwnPayloads(const char* ownPath, PayloadList* payloads);

// The whole run: start-up, the installation sequence, the exit handling.
// Returns the process exit code.
uint32_t RunLauncher(HINSTANCE instance, int showCommand);
