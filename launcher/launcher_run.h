// One run of the launcher, from start-up to the exit code: the state it
// carries and its portable decisions. The Windows entry point
// (launcher/launcher_win32.cpp) drives it.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "handoff/run_state.h"

// Resets `state` for a new run: everything zero, result (11, 1942).
void BeginRun(LauncherState* state);

// True when an argument from index 1 on equals "/q", "/qn" or "/quiet"
// without regard to the case of ASCII letters. Argument 0 is never looked at.
bool HasQuietSwitch(char16_t* const* arguments, int32_t count);

// Runs the certificate carrier over the launcher's own file bytes and, only
// when it succeeded and found nothing, the file-tail carrier. The carriers
// copy what they keep, so `file` may be released afterwards.
ErrorPair LoadPayloads(const uint8_t* file, uint32_t fileSize, PayloadList* payloads);

// The error box's text: the message text when set, else the system text
// for the code with the insert "1, code, line". Writes into messageText.
void ComposeErrorText(LauncherState* state);

// Releases the payload list, the own path and the argument array.
void EndRun(LauncherState* state);
