// FormatErrorText against the system's own message table.
#include "base/error_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "base/win32_calls.h"
#include "tests/wine/win32_faults.h"

namespace {

// The table's raw text for a code, as the launcher asks for it.
std::string RawSystemText(uint32_t code) {
  char buffer[1024];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 1024, buffer, sizeof buffer, nullptr);
  return std::string(buffer, n);
}

std::string Format(uint32_t code, const char* insert, uint32_t size = 2048) {
  std::string buffer(size, 'Z');
  FormatErrorText(code, &buffer[0], size, insert);
  return buffer.c_str();
}

TEST(FormatErrorTextWine, SentencesFromTheTableLoseTheirPeriodAndLineBreak) {
  for (uint32_t code : {2u, 5u}) {
    const std::string raw = RawSystemText(code);
    // The table's texts are sentences closed by ".\r\n"; that is what the
    // trimming exists for.
    ASSERT_GE(raw.size(), 4u) << code;
    ASSERT_EQ(raw.substr(raw.size() - 3), ".\r\n") << code;
    const std::string sentence = raw.substr(0, raw.size() - 3);
    struct Case {
      const char* insert;
      std::string expected;
    } cases[] = {
        {nullptr, sentence + "."},
        {"", sentence + "."},
        {"1, 2, 2042", sentence + " (1, 2, 2042)."},
        {"C:\\Windows\\Installer\\{X}\\main.msi", sentence + " (C:\\Windows\\Installer\\{X}\\main.msi)."},
    };
    for (const Case& c : cases) EXPECT_EQ(Format(code, c.insert), c.expected) << code;
  }
}

TEST(FormatErrorTextWine, CodesWithoutTextAreNumbered) {
  struct Case {
    uint32_t code;
    const char* insert;
    const char* expected;
  } cases[] = {
      {0x2000000Fu, nullptr, "Error 536870927"},
      {0x2000000Fu, "1, 536870927, 831", "Error 536870927 (1, 536870927, 831)."},
      {0xE0F00BADu, nullptr, "Error 3773828013"},
      {0xE0F00BADu, "x", "Error 3773828013 (x)."},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RawSystemText(c.code), "") << c.code;  // the premise: no text
    EXPECT_EQ(Format(c.code, c.insert), c.expected);
  }
}

TEST(FormatErrorTextWine, HResultsPrintUnsigned) {
  // Whether the table knows NTE_BAD_KEY differs between systems; when it
  // does not, the number must be the unsigned one.
  const std::string text = Format(0x80090003u, "i");
  if (RawSystemText(0x80090003u).empty())
    EXPECT_EQ(text, "Error 2148073475 (i).");
  else
    EXPECT_EQ(text.find('-'), std::string::npos) << text;
}

// What the launcher passes: no argument list, so inserts must be ignored;
// without that flag the system would read arguments that do not exist.
struct MessageRequest {
  DWORD flags;
  DWORD language;
  va_list* arguments;
  int calls;
};
MessageRequest request;

DWORD WINAPI RecordMessageRequest(DWORD flags, LPCVOID source, DWORD id, DWORD language, LPSTR buffer,
                                  DWORD size, va_list* arguments) {
  request = MessageRequest{flags, language, arguments, request.calls + 1};
  return kWin32Defaults.FormatMessageA(flags, source, id, language, buffer, size, arguments);
}

TEST(FormatErrorTextWine, MessagesWithInsertsAreNumbered) {
  // ERROR_BAD_EXE_FORMAT reads "%1 is not a valid Win32 application."
  const DWORD code = ERROR_BAD_EXE_FORMAT;
  char raw[512];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 1024,
                                 raw, sizeof raw, nullptr);
  ASSERT_NE(std::string(raw, n).find("%1"), std::string::npos) << "premise: the text has an insert";

  ScopedWin32Reset reset;
  request = MessageRequest{};
  gWin32.FormatMessageA = RecordMessageRequest;
  EXPECT_EQ(Format(code, nullptr), "Error 193");
  EXPECT_EQ(Format(code, "1, 193, 2042"), "Error 193 (1, 193, 2042).");
  EXPECT_EQ(request.calls, 2);
  EXPECT_EQ(request.flags, static_cast<DWORD>(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS));
  EXPECT_EQ(request.language, 1024u);
  EXPECT_EQ(request.arguments, nullptr);

  // A text without inserts is unchanged by the flag.
  const std::string denied = Format(ERROR_ACCESS_DENIED, nullptr);
  EXPECT_EQ(denied.find("Error"), std::string::npos) << denied;
}

TEST(FormatErrorTextWine, SmallBuffersStayTerminatedInside) {
  // The table refuses to cut a text that does not fit, so a small buffer
  // gets a cut "Error N" instead: either way, a prefix of one of the two full
  // texts, terminated inside the buffer, nothing written past it.
  const std::string full = Format(2, "C:\\long\\path");
  const std::string numbered = "Error 2 (C:\\long\\path).";
  for (uint32_t size = 1; size <= full.size() + 2; ++size) {
    char buffer[256];
    std::memset(buffer, 'Z', sizeof buffer);
    FormatErrorText(2, buffer, size, "C:\\long\\path");
    const void* end = std::memchr(buffer, 0, size);
    ASSERT_NE(end, nullptr) << size;
    EXPECT_EQ(buffer[size], 'Z') << size;
    const std::string text(buffer);
    EXPECT_TRUE(full.compare(0, text.size(), text) == 0 || numbered.compare(0, text.size(), text) == 0)
        << size << ": " << text;
  }
}

}  // namespace
