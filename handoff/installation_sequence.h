// The installation sequence: from the loaded payloads to msiexec's exit code.
#pragma once

#include <cstdint>

#include "handoff/run_report.h"
#include "package/run_context.h"

// The site of (13, 2151): no package fits the machine, or its file set
// could not be built. The packer's simulate names it.
constexpr uint32_t kNoPackageOrFileSet = 2151;

// What the sequence takes from the run; all of it outlives the sequence.
struct SequenceInput {
  RunContext* context;         // the payloads; selection may set userLcid to 1033
  char16_t* const* arguments;  // SplitCommandLine's; from index 1 on they go to msiexec
  int32_t argumentCount;
  int32_t showCommand;      // how msiexec's window shows
  const char* browseTitle;  // string 102, the folder browser's title
  // Set when a quiet switch was given: the run may have nobody to answer it
  // (a deployment running as SYSTEM), so it asks nothing. Where it would
  // show the folder browser it ends as if the browser had been cancelled,
  // and a Retry/Cancel question is answered Cancel.
  uint32_t unattended;
};

// Runs after a successful start-up, on the launcher's thread: creates the
// taskbar progress, selects the package, builds its file set, finds the
// system's msiexec, creates the extraction folder and the empty files, writes
// them under the progress window, runs msiexec with "/i", the extracted
// database and the launcher's own arguments, waits for it, and cleans up
// (what stays depends on msiexec's outcome and the product's registration).
//
// Returns the first failure, or msiexec's exit code, with the text that goes
// with it (the msiexec path is set whenever msiexec was found):
//   (13, 2151) string 101       no package, or no file set
//   (1155, 2161) string 100     no msiexec.exe in the system directory
//   (1223, 2219) none           the folder browser was cancelled, or would
//                               have been shown to an unattended run
//   (29, 2280) none             the progress window ended without finishing
//   (code, 2355) system text    msiexec could not be started (or its command
//     with the msiexec path     line would not fit: 206)
//   (code, 2352) generic text   msiexec's end could not be learned
//   (exit code, 2349) none      msiexec ended; code 0 is success
RunReport RunInstallationSequence(const SequenceInput& input);
