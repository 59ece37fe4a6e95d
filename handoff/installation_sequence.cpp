#include "handoff/installation_sequence.h"

#include <cstring>

#include "base/bounded_text.h"
#include "package/file_set.h"
#include "package/selection.h"

namespace {

constexpr uint32_t kNoPackageOrFileSet = 2151;

}  // namespace

void RunInstallationSequence(LauncherState* state) {
  static PackageSelection selection;  // 1 KiB of fields: kept off the stack
  std::memset(&selection, 0, sizeof selection);
  FileSet files;
  std::memset(&files, 0, sizeof files);
  files.cursor = -1;
  files.chunkSize = kWriterChunkSize;

  if (!SelectPackage(&state->context, &selection) ||
      !BuildFileSet(&state->context.payloads, selection, &files)) {
    state->result = ErrorPair{ErrorCode::InvalidData, kNoPackageOrFileSet};
    CopyText(state->messageText, sizeof state->messageText, state->string101);
  }
  ReleaseFileSet(&files);
}
