#include "handoff/installation_sequence.h"

#include <type_traits>

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

// The sequence's own state. About 3 KiB of buffers and fields: kept off the
// stack, and zeroed at the start of each sequence.
struct SequenceState {
  PackageSelection selection;
  FileSet files;
  HeldFolders heldPath;  // the product folder's path, from the drive root to its base
  char msiexecPath[kMsiexecPathSize];
  char folderPath[kFolderPathSize];
  char commandLine[kMsiexecCommandLineSize];
  MsiexecOutcome outcome;
};
// Zeroed when the image loads, with no constructor to run: a static that
// needed one would be guarded at run time, and the guard drags the C++
// exception and thread runtime into the launcher.
static_assert(std::is_trivially_default_constructible_v<SequenceState>,
              "the sequence's state is a plain record");

RunReport Report(ErrorPair pair, BoxText box) {
  RunReport report{};
  report.pair = pair;
  report.box = box;
  return report;
}

// Steps 3 to 7; each returns at the first failure, leaving what it made to
// the cleanup.
RunReport ExtractAndInstall(const SequenceInput& input, SequenceState* run) {
  if (!SelectPackage(input.context, &run->selection) ||
      !BuildFileSet(&input.context->payloads, run->selection, &run->files))
    return Report(ErrorPair{ErrorCode::InvalidData, kNoPackageOrFileSet}, BoxText::CorruptOrUnsupported);

  ErrorPair pair = FindMsiexec(run->msiexecPath, sizeof run->msiexecPath);
  if (pair.code != 0) return Report(pair, BoxText::InstallerRequired);

  pair = PrepareExtractionFolder(&run->files, &run->heldPath, run->selection.productCode, input.browseTitle,
                                 input.unattended, run->folderPath);
  if (pair.code != 0) return Report(pair, BoxText::None);  // the user cancelled the folder browser

  constexpr uint32_t kProgressWindowEnded = 2280;
  if (RunProgressDialog(&run->files, kProgressWindowClass, run->selection.productName, kProgressWindowFont,
                        input.unattended) != 1) {
    // Cancelled after a failed write, or no window: the user has seen what
    // there was to see.
    return Report(ErrorPair{ErrorCode::WriteFault, kProgressWindowEnded}, BoxText::None);
  }

  pair = BuildMsiexecCommandLine(run->msiexecPath, run->files.items[0].path, input.arguments,
                                 input.argumentCount, run->commandLine, sizeof run->commandLine);
  if (pair.code == 0) pair = LaunchMsiexec(run->msiexecPath, run->commandLine, input.showCommand, &run->outcome);
  return Report(pair, MsiexecBoxText(run->outcome));
}

}  // namespace

RunReport RunInstallationSequence(const SequenceInput& input) {
  gTaskbarProgress = CreateTaskbarProgress();

  static SequenceState run;
  run = SequenceState{};
  run.files.cursor = -1;
  run.files.chunkSize = kWriterChunkSize;
  run.outcome = kMsiexecNotRun;

  RunReport report = ExtractAndInstall(input, &run);
  CopyText(report.msiexecPath, sizeof report.msiexecPath, run.msiexecPath);

  // Every path that entered the sequence: what stays on disk is decided by
  // msiexec's outcome and the product's registration.
  CleanUpExtraction(&run.files, &run.heldPath, run.outcome, run.selection.productCode, input.context->isWow64,
                    run.folderPath);
  TaskbarProgress* taskbar = gTaskbarProgress;
  gTaskbarProgress = nullptr;
  ReleaseTaskbarProgress(taskbar);
  return report;
}
