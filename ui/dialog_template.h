// The progress window's in-memory dialog template: a DLGTEMPLATE with
// DS_SETFONT and no controls, laid out byte by byte so that the layout can be
// checked without a window system. The Win32 edge allocates the block and
// hands it to DialogBoxIndirectParamA.
#pragma once

#include <cstdint>

// Each text has room for this many UTF-16 units, its terminator included.
constexpr uint32_t kTemplateTextUnits = 50;

// Window style: WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER |
// DS_MODALFRAME | DS_SETFONT.
constexpr uint32_t kProgressTemplateStyle = 0x80C808C0u;
constexpr uint16_t kProgressTemplateWidth = 180;  // dialog units
constexpr uint16_t kProgressTemplateHeight = 40;
constexpr uint16_t kProgressTemplatePointSize = 10;

// How one text of the template is stored.
struct TemplateText {
  const char* text;  // the caller's ANSI text
  int32_t bytes;     // bytes converted: -1 for the whole text with its terminator
  uint32_t units;    // UTF-16 units stored, the terminator included (1 to 50)
};

// Decides how `text` (ANSI, zero-terminated) is stored: whole when its UTF-16
// form with the terminator fits in 50 units; otherwise its longest prefix of
// whole characters (stepped with the seam's NextAnsiCharacter, so a double-
// byte character is never split) that needs at most 49 units, and a
// terminator. A text the system cannot convert is stored empty. Keeps nothing.
TemplateText MeasureTemplateText(const char* text);

// The three texts of the template, measured once so that the block's size
// and its contents agree.
struct DialogTemplateTexts {
  TemplateText className;
  TemplateText title;
  TemplateText fontFace;
};

DialogTemplateTexts MeasureDialogTemplate(const char* className, const char* title, const char* fontFace);

// Bytes of the template for `texts`: 28 plus twice the stored characters
// (terminators not counted); for texts that fit, 28 + 2 x (their ANSI byte
// lengths) in a single-byte code page.
uint32_t DialogTemplateSize(const DialogTemplateTexts& texts);

// Writes the template into `block` (`size` bytes): style, no extended style,
// no controls, at 0,0, 180 x 40 units, menu 0, the class name, the title,
// point size 10 and the font face, each text right after the units of the
// one before. A text whose conversion fails now is left as zero units, still
// terminated. Returns the bytes written (DialogTemplateSize), or 0, writing
// nothing, when `size` is smaller.
uint32_t WriteDialogTemplate(uint8_t* block, uint32_t size, const DialogTemplateTexts& texts);
