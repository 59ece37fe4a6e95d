// Whole files for tests, seed makers and benchmarks, natively and under Wine
// alike (C stdio, so a Wine test passes its ANSI paths as they are).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The whole content of the file at `path`; empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// The content as text, or "<missing>" when the file cannot be opened, so that
// a comparison's message tells a missing file from an empty one.
std::string FileText(const std::string& path);

// Creates or replaces the file at `path` with `bytes`; false when it cannot
// be opened, written in full or closed.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteWholeFile(const std::string& path, const std::string& text);
