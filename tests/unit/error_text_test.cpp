#include "base/error_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/platform.h"
#include "tests/support/fault_injection.h"

namespace {

// The system text the fake message table returns for every code.
const char* systemText = nullptr;

uint32_t FakeSystemMessageText(uint32_t, char* buffer, uint32_t size) {
  if (!systemText) return 0;
  const size_t length = std::strlen(systemText);
  if (length + 1 > size) return 0;  // FormatMessageA fails rather than cut
  std::memcpy(buffer, systemText, length + 1);
  return static_cast<uint32_t>(length);
}

struct TextCase {
  const char* system;
  uint32_t code;
  const char* insert;
  const char* expected;
};

TEST(FormatErrorTextTest, TrimsAndAppends) {
  const TextCase cases[] = {
      {"Access is denied.\r\n", 5, nullptr, "Access is denied."},
      {"Access is denied.\r\n", 5, "C:\\a b", "Access is denied (C:\\a b)."},
      {"Access is denied.\r\n", 5, "", "Access is denied."},
      {"Several. . ..  \r\n", 5, "x", "Several (x)."},
      {"Ends in a tab\t\r\n", 5, nullptr, "Ends in a tab\t."},
      {". . \r\n.", 5, nullptr, "Error 5"},
      {nullptr, 1921, nullptr, "Error 1921"},
      {nullptr, 1921, "1, 1921, 2406", "Error 1921 (1, 1921, 2406)."},
      {nullptr, 0x80090003u, nullptr, "Error 2148073475"},
      {nullptr, 0xFFFFFFFFu, "i", "Error 4294967295 (i)."},
      // Inserts left unfilled would show their placeholders: such a text
      // counts as none. A percent sign that is no insert stays.
      {"%1 is not a valid Win32 application.\r\n", 193, nullptr, "Error 193"},
      {"%1 is not a valid Win32 application.\r\n", 193, "1, 193, 2042", "Error 193 (1, 193, 2042)."},
      {"The file %2 is damaged.\r\n", 1392, nullptr, "Error 1392"},
      {"Ends with an insert %9", 5, nullptr, "Error 5"},
      {"The disk is 100% full.\r\n", 112, nullptr, "The disk is 100% full."},
      {"A bare percent %\r\n", 5, "x", "A bare percent % (x)."},
  };
  for (const TextCase& c : cases) {
    ScopedPlatformReset reset;
    systemText = c.system;
    gPlatform.SystemMessageText = FakeSystemMessageText;
    char buffer[256];
    std::memset(buffer, 'Z', sizeof buffer);
    FormatErrorText(c.code, buffer, sizeof buffer, c.insert);
    EXPECT_STREQ(buffer, c.expected) << (c.system ? c.system : "(none)");
  }
}

TEST(FormatErrorTextTest, StaysInsideItsBuffer) {
  // Every buffer size from 1 to past the full text: the result is the
  // full text's prefix, terminated inside the buffer, never beyond it.
  const TextCase cases[] = {
      {"The system cannot find the file specified.\r\n", 2, "C:\\Windows\\Installer\\{X}\\main.msi", nullptr},
      {"The system cannot find the file specified.\r\n", 2, nullptr, nullptr},
      {nullptr, 1392, "a rather long insert", nullptr},
  };
  for (const TextCase& c : cases) {
    ScopedPlatformReset reset;
    systemText = c.system;
    gPlatform.SystemMessageText = FakeSystemMessageText;
    char full[512];
    FormatErrorText(c.code, full, sizeof full, c.insert);
    for (uint32_t size = 1; size <= std::strlen(full) + 2; ++size) {
      std::string buffer(size + 8, 'Z');
      FormatErrorText(c.code, buffer.data(), size, c.insert);
      const size_t length = std::strlen(buffer.c_str());
      ASSERT_LT(length, size);
      EXPECT_EQ(buffer.substr(size, 8), std::string(8, 'Z'));
      if (length < std::strlen(full)) {
        // Either the system text did not fit (then "Error N..." is cut)
        // or the appended part was cut: a prefix of one of the two forms.
        const bool systemFit = c.system && std::strlen(c.system) + 1 <= size;
        if (systemFit) {
          EXPECT_EQ(std::string(full).substr(0, length), buffer.c_str()) << size;
        }
      } else {
        EXPECT_STREQ(buffer.c_str(), full);
      }
    }
  }
}

}  // namespace
