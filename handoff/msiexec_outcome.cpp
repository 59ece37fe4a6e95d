#include "handoff/msiexec_outcome.h"

BoxText MsiexecBoxText(const MsiexecOutcome& outcome) {
  if (!outcome.started) return BoxText::MsiexecSystemText;
  return outcome.unknown ? BoxText::Generic : BoxText::None;
}
