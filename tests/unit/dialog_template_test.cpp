#include "ui/dialog_template.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/platform.h"
#include "tests/support/fault_injection.h"

namespace {

using Bytes = std::vector<uint8_t>;

// UTF-16LE of ASCII text with its terminator.
Bytes Units(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
  out.insert(out.end(), {0, 0});
  return out;
}

Bytes Build(const char* className, const char* title, const char* face) {
  const DialogTemplateTexts texts = MeasureDialogTemplate(className, title, face);
  Bytes block(DialogTemplateSize(texts), 0xEE);
  EXPECT_EQ(WriteDialogTemplate(block.data(), static_cast<uint32_t>(block.size()), texts), block.size());
  return block;
}

Bytes Expected(const Bytes& className, const Bytes& title, const Bytes& face) {
  Bytes out = {
      0xC0, 0x08, 0xC8, 0x80,  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT
      0, 0, 0, 0,              // extended style
      0, 0,                    // controls
      0, 0, 0, 0,              // x, y
      180, 0, 40, 0,           // width, height
      0, 0,                    // menu
  };
  out.insert(out.end(), className.begin(), className.end());
  out.insert(out.end(), title.begin(), title.end());
  out.insert(out.end(), {10, 0});  // point size
  out.insert(out.end(), face.begin(), face.end());
  return out;
}

TEST(DialogTemplateTest, LayoutOfTheProgressWindow) {
  const Bytes block = Build("MSI_STUB_WINDOW_CLASS_NAME", "Product", "MS Sans Serif");
  EXPECT_EQ(block.size(), 28u + 2 * (26 + 7 + 13));
  EXPECT_EQ(block, Expected(Units("MSI_STUB_WINDOW_CLASS_NAME"), Units("Product"), Units("MS Sans Serif")));
}

TEST(DialogTemplateTest, TextsTooLongForTheirPlaceKeepWholeCharacters) {
  // Natively the ANSI code page is UTF-8.
  const std::string a48(48, 'a'), a49(49, 'a');
  struct Case {
    std::string text;
    std::string stored;
  } cases[] = {
      {"", ""},
      {a49, a49},                                        // 49 and the terminator: fits
      {a49 + "b", a49},
      {std::string(300, 'x'), std::string(49, 'x')},
      {a48 + "\xC3\xA9", a48 + "\xC3\xA9"},              // e acute: one unit, fits
      {a48 + "\xC3\xA9" "b", a48 + "\xC3\xA9"},
      {a49 + "\xC3\xA9", a49},
  };
  for (const Case& c : cases) {
    const Bytes block = Build("C", c.text.c_str(), "F");
    std::u16string stored(c.stored.size() + 1, u'\0');
    const int units = platform::AnsiToWide(c.stored.c_str(), -1, &stored[0], static_cast<int>(stored.size()));
    stored.resize(units);
    Bytes title;
    for (char16_t u : stored) title.insert(title.end(), {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)});
    EXPECT_EQ(block, Expected(Units("C"), title, Units("F"))) << c.text;
  }
}

// A double-byte code page in the manner of Shift-JIS: 0x81..0xFE lead a
// two-byte character (one UTF-16 unit, 0x3000 + trail), whose trail byte may
// look like ASCII. A lead byte without its trail is dropped.
int DoubleByteToWide(const char* text, int bytes, char16_t* out, int outUnits) {
  const auto* in = reinterpret_cast<const uint8_t*>(text);
  const int length = bytes < 0 ? static_cast<int>(std::char_traits<char>::length(text)) + 1 : bytes;
  int units = 0;
  for (int i = 0; i < length; ++i) {
    char16_t unit = in[i];
    if (in[i] >= 0x81) {
      if (i + 1 >= length || in[i + 1] == 0) continue;
      unit = static_cast<char16_t>(0x3000 + in[++i]);
    }
    if (outUnits > 0 && units == outUnits) return 0;
    if (outUnits > 0) out[units] = unit;
    ++units;
  }
  return units;
}

const char* NextDoubleByteCharacter(const char* text) {
  if (!*text) return text;
  return static_cast<uint8_t>(*text) >= 0x81 && text[1] ? text + 2 : text + 1;
}

TEST(DialogTemplateTest, DoubleByteTitlesAreNeverCutInsideACharacter) {
  ScopedPlatformReset reset;
  gPlatform.AnsiToWide = DoubleByteToWide;
  gPlatform.NextAnsiCharacter = NextDoubleByteCharacter;
  const std::string a47(47, 'a'), a48(48, 'a'), a49(49, 'a');
  const std::string kanji = "\x95\\";  // a trail byte that reads as a backslash
  struct Case {
    std::string text;
    int32_t bytes;  // prefix kept, -1: whole
    uint32_t units;
  } cases[] = {
      {a48 + kanji, -1, 50},
      {a48 + kanji + kanji, 50, 50},
      {a49 + kanji, 49, 50},
      {a47 + kanji + kanji + "b", 51, 50},
      {kanji + std::string(60, 'z'), 50, 50},
  };
  for (const Case& c : cases) {
    const TemplateText stored = MeasureTemplateText(c.text.c_str());
    EXPECT_EQ(stored.bytes, c.bytes) << c.text;
    EXPECT_EQ(stored.units, c.units) << c.text;
  }

  // The face name follows the units actually stored, and the block is sized for them.
  const std::string title = a48 + kanji + kanji;
  const Bytes block = Build("C", title.c_str(), "F");
  Bytes stored = Units(a48);
  stored.insert(stored.end() - 2, {0x5C, 0x30});  // U+305C, then the terminator
  EXPECT_EQ(block, Expected(Units("C"), stored, Units("F")));
}

TEST(DialogTemplateTest, TooSmallABlockIsLeftAlone) {
  const DialogTemplateTexts texts = MeasureDialogTemplate("C", "T", "F");
  Bytes block(DialogTemplateSize(texts) - 1, 0xEE);
  EXPECT_EQ(WriteDialogTemplate(block.data(), static_cast<uint32_t>(block.size()), texts), 0u);
  EXPECT_EQ(block, Bytes(block.size(), 0xEE));
}

}  // namespace
