#include "handoff/installation_sequence.h"

#include <cstring>

#include "base/bounded_text.h"
#include "handoff/cleanup_win32.h"
#include "handoff/msiexec_command_line.h"
#include "handoff/msiexec_outcome.h"
#include "handoff/msiexec_win32.h"
#include "package/file_set.h"
#include "package/selection.h"
#include "ui/extraction_folder_win32.h"
#include "ui/folder_path.h"
#include "ui/progress_dialog_win32.h"
#include "ui/taskbar_progress.h"

namespace {

constexpr uint32_t kNoPackageOrFileSet = 2151;
constexpr uint32_t kProgressWindowEnded = 2280;

// The sequence's own state. About 3 KiB of buffers and fields: kept off the
// stack, and zeroed at the start of each sequence.
struct SequenceState {
  PackageSelection selection;
  FileSet files;
  char msiexecPath[kMsiexecPathSize];
  char folderPath[kFolderPathSize];
  char commandLine[kMsiexecCommandLineSize];
  MsiexecOutcome outcome;
};

// Steps 3 to 7; each returns early after the first failure, leaving what it
// made to the cleanup.
void ExtractAndInstall(LauncherState* state, SequenceState* run) {
  if (!SelectPackage(&state->context, &run->selection) ||
      !BuildFileSet(&state->context.payloads, run->selection, &run->files)) {
    state->result = ErrorPair{ErrorCode::InvalidData, kNoPackageOrFileSet};
    CopyText(state->messageText, sizeof state->messageText, state->string101);
    return;
  }

  state->result = FindMsiexec(run->msiexecPath, sizeof run->msiexecPath);
  if (state->result.code != 0) {
    CopyText(state->messageText, sizeof state->messageText, state->string100);
    return;
  }

  state->result = PrepareExtractionFolder(&run->files, run->selection.productCode, state->string102,
                                          run->folderPath);
  if (state->result.code != 0) {
    state->suppressBox = 1;  // the user cancelled the folder browser
    return;
  }

  if (RunProgressDialog(&run->files, kProgressWindowClass, run->selection.productName,
                        kProgressWindowFont) != 1) {
    // Cancelled after a failed write, or no window: the user has seen what
    // there was to see.
    state->result = ErrorPair{ErrorCode::WriteFault, kProgressWindowEnded};
    state->suppressBox = 1;
    return;
  }

  ErrorPair pair = BuildMsiexecCommandLine(run->msiexecPath, run->files.items[0].path, state->arguments,
                                           state->argumentCount, run->commandLine,
                                           sizeof run->commandLine);
  if (pair.code == 0)
    pair = LaunchMsiexec(run->msiexecPath, run->commandLine, state->showCommand, &run->outcome);
  TakeUpMsiexecPair(pair, run->msiexecPath, state);
}

}  // namespace

void RunInstallationSequence(LauncherState* state) {
  gTaskbarProgress = CreateTaskbarProgress();

  static SequenceState run;
  std::memset(&run, 0, sizeof run);
  run.files.cursor = -1;
  run.files.chunkSize = kWriterChunkSize;
  run.outcome = kMsiexecNotRun;

  ExtractAndInstall(state, &run);

  // Every path that entered the sequence: what stays on disk is decided by
  // msiexec's outcome and the product's registration.
  CleanUpExtraction(&run.files, run.outcome, run.selection.productCode, state->context.isWow64,
                    run.folderPath);
  TaskbarProgress* taskbar = gTaskbarProgress;
  gTaskbarProgress = nullptr;
  ReleaseTaskbarProgress(taskbar);
}
