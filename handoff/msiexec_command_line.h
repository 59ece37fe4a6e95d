// The command line msiexec is started with: its own path, "/i" and the
// extracted database, then the launcher's own arguments, each piece quoted
// when it holds a space.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error_pair.h"

// The command-line buffer: at most 1023 characters and the terminator.
constexpr size_t kMsiexecCommandLineSize = 1024;
// The msiexec path buffer: at most 1023 characters and the terminator.
constexpr uint32_t kMsiexecPathSize = 1024;

// Fills `commandLine` (`size` bytes, kMsiexecCommandLineSize in the run)
// with `msiexecPath`, " /i " and `packagePath`, then every argument from
// index 1 to `count` - 1 (UTF-16, as SplitCommandLine gives them) converted
// to the ANSI code page without best-fit look-alikes, each after one space.
// A piece whose text holds a space (tabs do not count) stands in quotes.
// Nothing is escaped: the splitter never lets a quote into an argument.
//
// Returns code 0 on success. A line is never cut and never leaves out an
// argument, since either would run a different installation; on failure
// `commandLine` is left empty (all zero) and the pair is
//   (206 ERROR_FILENAME_EXCED_RANGE, 2355) when the line does not fit, or
//   (last error, else 8; 2355) when an argument cannot be converted (no
//   memory for its copy, or the conversion fails).
// Releases every block it takes, on every path.
ErrorPair BuildMsiexecCommandLine(const char* msiexecPath, const char* packagePath,
                                  char16_t* const* arguments, int32_t count, char* commandLine,
                                  size_t size);
