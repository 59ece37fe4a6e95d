#include "package/manifest.h"

#include <cstring>

#include "base/byte_view.h"
#include "base/platform.h"

namespace {

constexpr uint32_t kEntryHeaderSize = 8;

// Converts `units` UTF-16 units at `text` into a fresh zero-filled block of
// the measured size plus one, so that the result is terminated even when the
// text carries no NUL of its own. A text the conversion refuses (an empty
// one, say) comes out as an empty string. Null only when memory runs out.
char* ConvertToAnsi(const char16_t* text, int units) {
  int needed = platform::WideToAnsi(text, units, nullptr, 0);
  if (needed < 0) needed = 0;
  auto* ansi = static_cast<char*>(platform::AllocBlock(static_cast<uint32_t>(needed) + 1, kBlockZeroed));
  if (!ansi) return nullptr;
  if (needed > 0) platform::WideToAnsi(text, units, ansi, needed);
  return ansi;
}

// An entry after one of odd length starts at an odd address; UTF-16 units
// cannot be read there portably, so such a text is converted from an aligned
// copy. Manifests from our packer always have even lengths and never get here.
char* ConvertEntryText(const ManifestEntry& entry) {
  const int units = static_cast<int>(entry.byteLength / 2);
  if (reinterpret_cast<uintptr_t>(entry.text) % alignof(char16_t) == 0)
    return ConvertToAnsi(reinterpret_cast<const char16_t*>(entry.text), units);

  const uint32_t copyBytes = static_cast<uint32_t>(units) * 2;
  auto* aligned = static_cast<char16_t*>(platform::AllocBlock(copyBytes ? copyBytes : 2, 0));
  if (!aligned) return nullptr;
  std::memcpy(aligned, entry.text, copyBytes);
  char* ansi = ConvertToAnsi(aligned, units);
  platform::FreeBlock(aligned);
  return ansi;
}

}  // namespace

bool ReadManifestEntry(const uint8_t* manifest, uint32_t size, uint32_t* offset, ManifestEntry* entry) {
  const ByteView view{manifest, size};
  const uint64_t at = *offset;
  uint32_t id = 0, byteLength = 0;
  ByteView text;
  if (!U32(view, at, &id) || !U32(view, at + 4, &byteLength)) return false;  // the header is cut
  if (!Sub(view, at + kEntryHeaderSize, byteLength, &text)) return false;    // the text would pass the end
  entry->id = id;
  entry->byteLength = byteLength;
  entry->text = text.data;
  // Inside the manifest, whose size is a u32.
  *offset = static_cast<uint32_t>(at + kEntryHeaderSize + byteLength);
  return true;
}

bool ForEachManifestEntry(const PayloadList* payloads, ManifestEntryVisitor visitor, void* context,
                          ManifestWalkStop* stop) {
  bool goOn = true, complete = true;
  for (uint32_t index = 0; index < payloads->count && goOn && complete; ++index) {
    const PayloadItem& payload = payloads->items[index];
    uint32_t offset = 0;
    while (offset < payload.manifestSize && goOn && complete) {
      ManifestEntry entry;
      if (!ReadManifestEntry(payload.manifest, payload.manifestSize, &offset, &entry)) {
        complete = false;
        if (stop) *stop = ManifestWalkStop{index, 0};
        break;
      }
      char* text = ConvertEntryText(entry);
      if (!text) {
        complete = false;
        if (stop) *stop = ManifestWalkStop{index, 1};
        break;
      }
      if (visitor(index, entry.id, text, context) == 0) goOn = false;
      platform::FreeBlock(text);
    }
  }
  return complete;
}
