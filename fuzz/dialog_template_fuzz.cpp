// The progress window's template on arbitrary titles, class names and face
// names (the title is the product name from a manifest). The block is a heap
// allocation of exactly the measured size, so a write past it hits ASan's
// redzone; every text must stay terminated inside its 50 units.
//
// Input: three texts separated by 0 bytes (missing ones are empty).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace {

// The UTF-16 text that starts at `at`: its units, the terminator included.
uint32_t StoredUnits(const uint8_t* block, uint32_t size, uint32_t at) {
  for (uint32_t units = 1; at + 2 * units <= size; ++units)
    if (block[at + 2 * (units - 1)] == 0 && block[at + 2 * (units - 1) + 1] == 0) return units;
  std::abort();  // no terminator inside the block
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string texts[3];
  size_t which = 0;
  for (size_t i = 0; i < size && which < 3; ++i) {
    if (data[i] == 0)
      ++which;
    else
      texts[which] += static_cast<char>(data[i]);
  }
  const DialogTemplateTexts measured =
      MeasureDialogTemplate(texts[0].c_str(), texts[1].c_str(), texts[2].c_str());
  const uint32_t blockSize = DialogTemplateSize(measured);
  std::vector<uint8_t> block(blockSize);
  if (WriteDialogTemplate(block.data(), blockSize, measured) != blockSize) std::abort();
  if (blockSize > 0 && WriteDialogTemplate(block.data(), blockSize - 1, measured) != 0) std::abort();

  // menu, class, title, point size, face: each text terminated within 50
  // units, the point size right after the title, the face ending the block.
  uint32_t at = 18 + 2;
  const uint32_t classUnits = StoredUnits(block.data(), blockSize, at);
  at += 2 * classUnits;
  const uint32_t titleUnits = StoredUnits(block.data(), blockSize, at);
  at += 2 * titleUnits;
  if (at + 2 > blockSize || block[at] != kProgressTemplatePointSize || block[at + 1] != 0) std::abort();
  at += 2;
  const uint32_t faceUnits = StoredUnits(block.data(), blockSize, at);
  if (at + 2 * faceUnits != blockSize) std::abort();
  if (classUnits > kTemplateTextUnits || titleUnits > kTemplateTextUnits || faceUnits > kTemplateTextUnits)
    std::abort();
  return 0;
}
