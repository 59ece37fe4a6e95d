#include "launcher/launcher_run.h"

#include <cstring>

#include "base/bounded_text.h"
#include "base/error_text.h"
#include "base/platform.h"
#include "payload/carriers.h"

void BeginRun(LauncherState* state) {
  std::memset(state, 0, sizeof *state);
  state->report.pair = kInitialRunResult;
  state->report.box = BoxText::Generic;
}

bool HasQuietSwitch(char16_t* const* arguments, int32_t count) {
  for (int32_t i = 1; i < count; ++i) {
    const char16_t* argument = arguments[i];
    if (EqualsIgnoringAsciiCase(argument, "/q") || EqualsIgnoringAsciiCase(argument, "/qn") ||
        EqualsIgnoringAsciiCase(argument, "/quiet"))
      return true;
  }
  return false;
}

ErrorPair LoadPayloads(const uint8_t* file, uint32_t fileSize, PayloadList* payloads) {
  ErrorPair pair = ReadCertificatePayloads(file, fileSize, payloads);
  // A failing certificate carrier ends the run even when a stack sits at the
  // tail: a damaged signature is not a reason to trust the tail instead.
  if (pair.code == 0 && payloads->count == 0) pair = ReadTailPayload(file, fileSize, payloads);
  return pair;
}

bool DecideErrorBox(LauncherState* state) {
  const RunReport& report = state->report;
  if (report.pair.code == 0 || HasQuietSwitch(state->arguments, state->argumentCount)) return false;
  char* text = state->messageText;
  const uint32_t size = sizeof state->messageText;
  text[0] = '\0';
  switch (report.box) {
    case BoxText::None:
      return false;
    case BoxText::InstallerRequired:
      CopyText(text, size, state->string100);
      break;
    case BoxText::CorruptOrUnsupported:
      CopyText(text, size, state->string101);
      break;
    case BoxText::MsiexecSystemText:
      FormatErrorText(report.pair.code, text, size, report.msiexecPath);
      break;
    case BoxText::Generic:
      break;
  }
  // A string that could not be loaded is empty: the code and the site tell
  // at least what failed where.
  if (text[0] == '\0') {
    char insert[64];
    size_t length = 0;
    insert[0] = '\0';
    AppendFormat(insert, sizeof insert, &length, "%u, %u, %u", 1u, report.pair.code, report.pair.line);
    FormatErrorText(report.pair.code, text, size, insert);
  }
  return true;
}

void EndRun(LauncherState* state) {
  ReleasePayloadList(&state->context.payloads);
  if (state->ownPath) platform::FreeBlock(state->ownPath);
  if (state->arguments) platform::FreeBlock(state->arguments);
  state->ownPath = nullptr;
  state->arguments = nullptr;
  state->argumentCount = 0;
}
