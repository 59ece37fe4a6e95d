// What the progress window does at each turn, decided without a window: one
// writer step per timer tick, the percentage to show, and whether the window
// ends, re-arms its timer or asks Retry/Cancel. The Win32 edge
// (ui/progress_dialog_win32.cpp) only carries the decisions out.
#pragma once

#include <cstdint>

#include "package/file_set.h"

// The window's results (DialogBoxIndirectParamA's return value).
constexpr int32_t kProgressAllWritten = 1;
constexpr int32_t kProgressCancelled = 2;
constexpr int32_t kProgressNotAttached = 3;  // the FileSet could not be stored in the window
constexpr int32_t kProgressNotShown = -1;    // no template block, or no window

// The box answer that gives up (IDCANCEL).
constexpr int32_t kBoxAnswerCancel = 2;

constexpr uint32_t kProgressTextSize = 1024;

enum class ProgressStep : uint32_t {
  End,    // EndDialog with `result`
  Rearm,  // start the timer again
  Ask,    // show `text` in a Retry/Cancel box, then DecideBoxAnswer
};

struct ProgressDecision {
  ProgressStep step;
  int32_t result;                // with End
  int32_t percentage;            // after a tick: the bar and taskbar position, 0 to 100
  char text[kProgressTextSize];  // with Ask: the box text, zero-terminated
};

// One timer tick, the timer already stopped: runs one WriteNextChunk on `set`
// and decides. Every code gives a percentage to show; 0 ends with 1, 234
// re-arms, anything else (a failed or short write) asks with the system text
// for the code and the current item's path as insert. Keeps nothing.
void DecideProgressTick(FileSet* set, ProgressDecision* decision);

// The answer of a Retry/Cancel box: Cancel ends with 2, Retry re-arms. An
// answer of 0 means that the box could not be shown; that also ends with 2,
// because nobody can answer an unseen box and retrying unseen would never end.
void DecideBoxAnswer(int32_t answer, ProgressDecision* decision);

// The timer could not be started: asks with the system text for `lastError`
// (taken right after the failed SetTimer), without insert. A failure that
// left no last error asks with the text for 8 (ERROR_NOT_ENOUGH_MEMORY, what
// a timer fails for) rather than with the text for success.
void DecideTimerFailure(uint32_t lastError, ProgressDecision* decision);
