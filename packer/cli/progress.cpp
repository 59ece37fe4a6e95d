#include "packer/cli/progress.h"

#include <cstdio>

#include "packer/io/file_io.h"

void StartProgress(ProgressBar* bar, const std::string& label, uint64_t total) {
  *bar = ProgressBar();
  bar->label = label;
  bar->total = total;
  bar->visible = total >= kProgressThreshold && StandardErrorIsTerminal();
  AdvanceProgress(bar, 0);
}

void AdvanceProgress(ProgressBar* bar, uint64_t amount) {
  bar->done += amount;
  if (!bar->visible) return;
  int percent = bar->total == 0 ? 100 : static_cast<int>(bar->done * 100 / bar->total);
  if (percent > 100) percent = 100;
  if (percent == bar->lastPercent) return;
  bar->lastPercent = percent;
  constexpr int kWidth = 40;
  char cells[kWidth + 1];
  int filled = percent * kWidth / 100;
  for (int i = 0; i < kWidth; ++i) cells[i] = i < filled ? '#' : '.';
  cells[kWidth] = '\0';
  const int drawn = std::fprintf(stderr, "\r%s [%s] %3d%%", bar->label.c_str(), cells, percent);
  if (drawn > 1) bar->drawnWidth = static_cast<size_t>(drawn - 1);
  std::fflush(stderr);
}

void FinishProgress(ProgressBar* bar) {
  if (!bar->visible) return;
  EraseTerminalLine(bar->drawnWidth);
  std::fflush(stderr);
  bar->visible = false;
}
