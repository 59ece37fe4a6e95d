#include "ui/dialog_template.h"

#include "base/platform.h"

namespace {

// DLGTEMPLATE (18 bytes) and the menu unit; the class name follows.
constexpr uint32_t kFixedHeaderBytes = 20;
constexpr uint32_t kPointSizeBytes = 2;

void PutUnit(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutDword(uint8_t* at, uint32_t value) {
  PutUnit(at, static_cast<uint16_t>(value));
  PutUnit(at + 2, static_cast<uint16_t>(value >> 16));
}

// Stores `stored` at `at` as measured, the terminator included, and returns
// the bytes it takes. A conversion that fails now leaves zero units.
uint32_t PutText(uint8_t* at, const TemplateText& stored) {
  char16_t units[kTemplateTextUnits] = {};
  if (stored.bytes < 0) {
    platform::AnsiToWide(stored.text, -1, units, static_cast<int>(kTemplateTextUnits));
  } else if (stored.bytes > 0) {
    // A prefix carries no terminator of its own: the zero unit after it is one.
    platform::AnsiToWide(stored.text, stored.bytes, units, static_cast<int>(kTemplateTextUnits - 1));
  }
  for (uint32_t u = 0; u + 1 < stored.units; ++u) PutUnit(at + 2 * u, static_cast<uint16_t>(units[u]));
  PutUnit(at + 2 * (stored.units - 1), 0);
  return 2 * stored.units;
}

}  // namespace

TemplateText MeasureTemplateText(const char* text) {
  const int whole = platform::AnsiToWide(text, -1, nullptr, 0);
  if (whole > 0 && static_cast<uint32_t>(whole) <= kTemplateTextUnits)
    return TemplateText{text, -1, static_cast<uint32_t>(whole)};

  // Too long for its place (a long product name): keep whole characters up
  // to 49 units. DialogBoxIndirectParamA would otherwise read the rest of the
  // text as the next field and fail to create the window.
  TemplateText stored{text, 0, 1};
  for (const char* at = text; *at;) {
    const char* next = platform::NextAnsiCharacter(at);
    if (next <= at) break;
    const int units = platform::AnsiToWide(text, static_cast<int>(next - text), nullptr, 0);
    if (units <= 0 || static_cast<uint32_t>(units) > kTemplateTextUnits - 1) break;
    stored.bytes = static_cast<int32_t>(next - text);
    stored.units = static_cast<uint32_t>(units) + 1;
    at = next;
  }
  return stored;
}

DialogTemplateTexts MeasureDialogTemplate(const char* className, const char* title, const char* fontFace) {
  return DialogTemplateTexts{MeasureTemplateText(className), MeasureTemplateText(title),
                             MeasureTemplateText(fontFace)};
}

uint32_t DialogTemplateSize(const DialogTemplateTexts& texts) {
  return kFixedHeaderBytes + kPointSizeBytes + 2 * (texts.className.units + texts.title.units + texts.fontFace.units);
}

uint32_t WriteDialogTemplate(uint8_t* block, uint32_t size, const DialogTemplateTexts& texts) {
  const uint32_t needed = DialogTemplateSize(texts);
  if (size < needed) return 0;

  PutDword(block, kProgressTemplateStyle);
  PutDword(block + 4, 0);  // extended style
  PutUnit(block + 8, 0);   // no controls: the bar is made at initialisation
  PutUnit(block + 10, 0);  // x, y: DS_CENTER places the window
  PutUnit(block + 12, 0);
  PutUnit(block + 14, kProgressTemplateWidth);
  PutUnit(block + 16, kProgressTemplateHeight);
  PutUnit(block + 18, 0);  // no menu
  uint32_t at = kFixedHeaderBytes;
  at += PutText(block + at, texts.className);
  at += PutText(block + at, texts.title);
  PutUnit(block + at, kProgressTemplatePointSize);
  at += kPointSizeBytes;
  at += PutText(block + at, texts.fontFace);
  return at;
}
