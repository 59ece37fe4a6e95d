// The driver state of one run: held by the entry point (launcher/) from
// start-up to the exit code and shared with the installation sequence,
// which continues the same run.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "package/run_context.h"

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
