#include "package/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(IsBracedGuidTest, ExactlyEightFourFourFourTwelveInBraces) {
  const struct {
    const char* text;
    bool guid;
  } cases[] = {
      {"{6F330B47-2577-43AD-9095-1861BA25889B}", true},
      {"{6f330b47-2577-43ad-9095-1861ba25889b}", true},
      {"{6F330B47-2577-43AD-9095-1861BA25889B}x", false},
      {"6F330B47-2577-43AD-9095-1861BA25889B", false},
      {"{6F330B47-2577-43AD-9095-1861BA25889}", false},
      {"{6F330B4-72577-43AD-9095-1861BA25889B}", false},  // a dash one place early
      {"{6F330B47-2577-43AD-9095-1861BA25889G}", false},
      {"{..\\..\\..\\Windows\\System32\\xxxxxxx}", false},  // 38 bytes in braces, no GUID
      {"", false},
      {nullptr, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsBracedGuid(c.text), c.guid) << (c.text ? c.text : "(null)");
}

TEST(IsPlainFileNameTest, OnlyOneNameInsideAFolder) {
  const struct {
    std::string text;
    bool plain;
  } cases[] = {
      {"Disk 1 (en-US) #2.cab", true},
      {" .cab", true},             // leading spaces and dots are ordinary
      {"\xE4\xF6\xFC.cab", true},  // letters of the code page
      {std::string(217, 'n'), true},
      {std::string(218, 'n'), false},  // fits no folder: "C:\{GUID}\" leaves 217 bytes
      {"LONG~UM1.CAB", false},          // a short name the system may give another file
      {"DISK1~1.CAB", false},
      {"~1", false},
      {"longer~1.cabinet", true},       // not an 8.3 name: no file gets it as its short name
      {"cabinet~1.cab", true},
      {"a~b.c.d", true},
      {"", false},
      {".", false},
      {"..", false},
      {"a.cab.", false},  // the system would open "a.cab"
      {"a.cab ", false},
      {"..\\x.cab", false},
      {"sub/x.cab", false},
      {"x.cab:stream", false},
      {"*.cab", false},
      {"x?.cab", false},
      {"\"x\".cab", false},
      {"<x>|.cab", false},
      {"tab\there", false},
      {"del\x7F", false},
      {"\x81\\", false},  // a double-byte character whose trail byte is '\': refused byte by byte
      {"con", false},
      {"Prn.cab", false},
      {"AUX.txt.cab", false},
      {"nul .cab", false},
      {"COM1", false},
      {"lpt9.cab", false},
      {"COM\xB9", false},  // superscript one in the ANSI code page
      {"CONOUT$", false},
      {"NULL.cab", true},
      {"COM10", true},
      {"xNUL.cab", true},
      {"cab.NUL", true},  // only the part before the first dot names a device
  };
  for (const auto& c : cases) EXPECT_EQ(IsPlainFileName(c.text.c_str()), c.plain) << "\"" << c.text << "\"";
  EXPECT_FALSE(IsPlainFileName(nullptr));
}

}  // namespace
