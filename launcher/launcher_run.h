// One run of the launcher, from start-up to the exit code: the state it
// carries and its portable decisions. The Windows entry point
// (launcher/launcher_win32.cpp) drives it.
#pragma once

#include <cstdint>

#include "launcher/error_pair.h"
#include "launcher/run_context.h"

// Every path through start-up replaces this before it is read.
constexpr ErrorPair kInitialRunResult{ErrorCode::BadFormat, 1942};

struct LauncherState {
  ErrorPair result;          // the run's first failure, or code 0
  uint32_t suppressBox;      // a quiet switch was given, or the failure is silent
  char messageText[2048];    // the error box text; empty: built from the code
  char string100[512];       // "Windows Installer is required ..."
  char string101[256];       // "The installation file is either corrupted ..."
  char string102[256];       // the folder browser's title
  RunContext context;
  char16_t** arguments;      // SplitCommandLine's block; index 0 is the program
  int32_t argumentCount;
  char* ownPath;             // GetOwnModulePath's block
  void* instance;            // the module instance
  int32_t showCommand;
};

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
