#include "ui/progress_tick.h"

#include "base/error_pair.h"
#include "base/error_text.h"
#include "package/file_writer.h"

namespace {

void Ask(ProgressDecision* decision, uint32_t code, const char* insert) {
  decision->step = ProgressStep::Ask;
  decision->result = 0;
  FormatErrorText(code, decision->text, sizeof decision->text, insert);
}

void End(ProgressDecision* decision, int32_t result) {
  decision->step = ProgressStep::End;
  decision->result = result;
  decision->text[0] = '\0';
}

void Rearm(ProgressDecision* decision) {
  decision->step = ProgressStep::Rearm;
  decision->result = 0;
  decision->text[0] = '\0';
}

}  // namespace

void DecideProgressTick(FileSet* set, ProgressDecision* decision) {
  int32_t percentage = 0;
  const uint32_t code = WriteNextChunk(set, &percentage);
  decision->percentage = percentage;
  if (code == ErrorCode::Success) {
    End(decision, kProgressAllWritten);
  } else if (code == ErrorCode::MoreData) {
    Rearm(decision);
  } else {
    // After a failed write the cursor still names the item being written.
    const bool atItem = set->cursor >= 0 && set->cursor < set->count;
    Ask(decision, code, atItem ? set->items[set->cursor].path : nullptr);
  }
}

void DecideBoxAnswer(int32_t answer, ProgressDecision* decision) {
  if (answer == kBoxAnswerCancel || answer == 0)
    End(decision, kProgressCancelled);
  else
    Rearm(decision);
}

void DecideTimerFailure(uint32_t lastError, ProgressDecision* decision) {
  Ask(decision, lastError != 0 ? lastError : ErrorCode::NotEnoughMemory, nullptr);
}
