// Bounded windows on bytes that anyone may have made: executables, payloads,
// manifests. Every accessor checks its span against the view before it
// touches a byte and answers false past the end instead of reading there.
// Offsets and lengths are 64-bit and the check subtracts rather than adds, so
// no offset near 4 GiB (an e_lfanew of 0xFFFFFFF0, a length field of
// 0xFFFFFFFF) can wrap back into range on either the 32-bit launcher or the
// 64-bit packer. Values are little-endian, as every format here is.
#pragma once

#include <cstddef>
#include <cstdint>

// Read-only bytes owned by someone else; `data` may be null when `size` is 0.
struct ByteView {
  const uint8_t* data;
  size_t size;
};

// The same for bytes the holder may change in place.
struct MutableByteView {
  uint8_t* data;
  size_t size;
};

// Whether the `length` bytes at `at` lie inside a view of `size` bytes.
inline bool SpanFits(size_t size, uint64_t at, uint64_t length) { return at <= size && length <= size - at; }

// The `length` bytes at `at`, as a view into the same bytes. False, *sub
// untouched, when any of them lies past the end; an empty span at the very
// end fits.
inline bool Sub(ByteView view, uint64_t at, uint64_t length, ByteView* sub) {
  if (!SpanFits(view.size, at, length)) return false;
  *sub = ByteView{view.data + at, static_cast<size_t>(length)};
  return true;
}

// The u16 at `at`. False, *value untouched, when it does not fit.
inline bool U16(ByteView view, uint64_t at, uint16_t* value) {
  if (!SpanFits(view.size, at, 2)) return false;
  const uint8_t* p = view.data + at;
  *value = static_cast<uint16_t>(p[0] | p[1] << 8);
  return true;
}

// The u32 at `at`. False, *value untouched, when it does not fit.
inline bool U32(ByteView view, uint64_t at, uint32_t* value) {
  if (!SpanFits(view.size, at, 4)) return false;
  const uint8_t* p = view.data + at;
  *value = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  return true;
}

// Stores `value` at `at`. False, writing nothing, when it does not fit.
inline bool PutU16(MutableByteView view, uint64_t at, uint16_t value) {
  if (!SpanFits(view.size, at, 2)) return false;
  view.data[at] = static_cast<uint8_t>(value);
  view.data[at + 1] = static_cast<uint8_t>(value >> 8);
  return true;
}

// Stores `value` at `at`. False, writing nothing, when it does not fit.
inline bool PutU32(MutableByteView view, uint64_t at, uint32_t value) {
  if (!SpanFits(view.size, at, 4)) return false;
  for (int i = 0; i < 4; ++i) view.data[at + i] = static_cast<uint8_t>(value >> (8 * i));
  return true;
}
