// One run of the launcher, from start-up to the exit code: the state it
// carries and its portable decisions. The Windows entry point
// (launcher/launcher_win32.cpp) drives it.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "handoff/run_report.h"
#include "package/run_context.h"

// Every path through start-up replaces this before it is read.
constexpr ErrorPair kInitialRunResult{ErrorCode::BadFormat, 1942};

// The run's state, held by the entry point from start-up to the exit code.
struct LauncherState {
  RunReport report;        // the first failure (or msiexec's exit code) and its box text
  char messageText[2048];  // the error box's text, made by DecideErrorBox
  char string100[512];     // "Windows Installer is required ..."
  char string101[256];     // "The installation file is either corrupted ..."
  char string102[256];     // the folder browser's title
  RunContext context;
  char16_t** arguments;  // SplitCommandLine's block; index 0 is the program
  int32_t argumentCount;
  char* ownPath;  // GetOwnModulePath's block
  void* instance;  // the module instance
  int32_t showCommand;
};

// Resets `state` for a new run: everything zero, result (11, 1942) with the
// generic text.
void BeginRun(LauncherState* state);

// True when an argument from index 1 on equals "/q", "/qn" or "/quiet"
// without regard to the case of ASCII letters. Argument 0 is never looked at.
bool HasQuietSwitch(char16_t* const* arguments, int32_t count);

// Runs the certificate carrier over the launcher's own file bytes and, only
// when it succeeded and found nothing, the file-tail carrier. The carriers
// copy what they keep, so `file` may be released afterwards.
ErrorPair LoadPayloads(const uint8_t* file, uint32_t fileSize, PayloadList* payloads);

// The one place that decides the error box. False when none is shown: the run succeeded, a quiet switch was given, or
// the report asks for no box. Otherwise fills messageText with the text the
// report names: string 100 or 101 as loaded, the system text for the code
// with the msiexec path as insert, or the generic text (the system text for
// the code with the insert "1, code, line"), which also stands in for a
// string that could not be loaded.
bool DecideErrorBox(LauncherState* state);

// Releases the payload list, the own path and the argument array.
void EndRun(LauncherState* state);
