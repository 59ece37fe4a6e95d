#include "handoff/msiexec_command_line.h"

#include <climits>
#include <cstring>

#include "base/bounded_text.h"
#include "base/platform.h"

namespace {

// Stepping by characters, so that a double-byte character's trail byte is
// never taken for a space.
bool ContainsSpace(const char* text) {
  for (const char* p = text; *p;) {
    if (*p == ' ') return true;
    const char* next = platform::NextAnsiCharacter(p);
    p = next > p ? next : p + 1;
  }
  return false;
}

// Appends one piece in its quoted or bare format; false when it does not fit
// (the line is then cut, and the caller refuses it).
bool AppendPiece(char* line, size_t size, size_t* length, const char* quoted, const char* bare,
                 const char* text) {
  return AppendFormat(line, size, length, ContainsSpace(text) ? quoted : bare, text);
}

size_t Length(const char16_t* text) {
  size_t units = 0;
  while (text[units]) ++units;
  return units;
}

ErrorPair Refuse(char* line, size_t size, ErrorPair pair) {
  std::memset(line, 0, size);
  return pair;
}

}  // namespace

ErrorPair BuildMsiexecCommandLine(const char* msiexecPath, const char* packagePath,
                                  char16_t* const* arguments, int32_t count, char* commandLine,
                                  size_t size) {
  // The line does not fit, or an argument cannot be converted: msiexec is not started.
  constexpr uint32_t kMsiexecNotStarted = 2355;
  const ErrorPair tooLong{ErrorCode::FilenameExcedRange, kMsiexecNotStarted};
  std::memset(commandLine, 0, size);
  size_t length = 0;
  if (!AppendPiece(commandLine, size, &length, "\"%s\"", "%s", msiexecPath) ||
      !AppendPiece(commandLine, size, &length, " /i \"%s\"", " /i %s", packagePath))
    return Refuse(commandLine, size, tooLong);

  for (int32_t j = 1; j < count; ++j) {
    const size_t units = Length(arguments[j]);
    // Every character (one unit, or a surrogate pair) becomes a byte at
    // least: such an argument cannot fit, whatever the code page.
    if (units > static_cast<size_t>(INT_MAX) || units / 2 >= size)
      return Refuse(commandLine, size, tooLong);
    char* text = nullptr;
    if (units > 0) {
      // The conversion refuses an empty text; an empty argument stays one.
      const int wide = static_cast<int>(units);
      const int needed = platform::WideToAnsiNoBestFit(arguments[j], wide, nullptr, 0);
      if (needed <= 0)
        return Refuse(commandLine, size,
                      MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, kMsiexecNotStarted));
      text = static_cast<char*>(platform::AllocBlock(static_cast<uint32_t>(needed) + 1, kBlockZeroed));
      if (!text)
        return Refuse(commandLine, size,
                      MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, kMsiexecNotStarted));
      if (platform::WideToAnsiNoBestFit(arguments[j], wide, text, needed) != needed) {
        const ErrorPair notConverted =
            MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, kMsiexecNotStarted);
        platform::FreeBlock(text);
        return Refuse(commandLine, size, notConverted);
      }
    }
    const bool fits = AppendPiece(commandLine, size, &length, " \"%s\"", " %s", text ? text : "");
    platform::FreeBlock(text);
    if (!fits) return Refuse(commandLine, size, tooLong);
  }
  return ErrorPair{ErrorCode::Success, kMsiexecNotStarted};
}
