// Whole-file reads, all-or-nothing writes and the terminal progress bar of
// the msilaunch-pack command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole of `path` into *bytes. False with *error set ("cannot open
// ...: reason") on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Writes `bytes` to a temporary file beside `path`, flushes it and renames it
// over `path`, so that a failure at any point leaves either the old file or
// none, never a partial one. `mode` gives the permission bits (0600 for a
// private key, 0755 for an executable).
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode,
                         std::string* error);

// Creates `path` and its missing parents. False with *error set.
bool MakeDirectories(const std::string& path, std::string* error);

// The directory part of a path ("." when there is none) and the last part.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

// A one-line progress bar on standard error, drawn only when standard error
// is a terminal and the work is large enough for a bar to be worth it.
struct ProgressBar {
  std::string label;
  uint64_t total = 0;
  uint64_t done = 0;
  bool visible = false;
  int lastPercent = -1;
};

constexpr uint64_t kProgressThreshold = 4u << 20;  // below 4 MiB a bar would only flicker

void StartProgress(ProgressBar* bar, const std::string& label, uint64_t total);
void AdvanceProgress(ProgressBar* bar, uint64_t amount);
// Clears the bar's line so that what follows starts on a clean line.
void FinishProgress(ProgressBar* bar);
