#pragma once

#include <cstdint>
#include <string>

// A one-line progress bar on standard error, drawn only when standard error
// is a terminal (a console on Windows) and the work is large enough for a
// bar to be worth it.
struct ProgressBar {
  std::string label;
  uint64_t total = 0;
  uint64_t done = 0;
  bool visible = false;
  int lastPercent = -1;
  size_t drawnWidth = 0;  // characters of the last line drawn
};

constexpr uint64_t kProgressThreshold = 4u << 20;  // below 4 MiB a bar would only flicker

void StartProgress(ProgressBar* bar, const std::string& label, uint64_t total);
void AdvanceProgress(ProgressBar* bar, uint64_t amount);
// Clears the bar's line so that what follows starts on a clean line.
void FinishProgress(ProgressBar* bar);
