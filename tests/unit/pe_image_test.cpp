// The byte view and the PE reader over it at their edges: a byte short of a
// span and exactly on it, and sums that would wrap. The certificate table's
// edges are in the carriers' table.
#include "payload/pe_image.h"

#include <gtest/gtest.h>

#include "tests/support/payloads.h"
#include "tests/tools/make_test_exes.h"

namespace {

TEST(ByteViewTest, AnswersOnlyInsideItsBytes) {
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const ByteView view{bytes, sizeof bytes};
  const struct {
    uint64_t at, length;  // a length of 2 also asks U16, of 4 U32 and PutU32
    uint32_t value;       // 0: past the end
  } cases[] = {
      {0, 8, 1}, {8, 0, 1}, {9, 0, 0}, {0, 9, 0}, {4, 4, 0x08070605}, {5, 4, 0}, {6, 2, 0x0807}, {7, 2, 0},
      {UINT64_MAX - 1, 4, 0}, {4, UINT64_MAX - 1, 0}, {UINT32_MAX - 1, 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.at << " + " << c.length);
    const bool fits = c.value != 0;
    ByteView sub{nullptr, 99};
    EXPECT_EQ(Sub(view, c.at, c.length, &sub), fits);
    EXPECT_EQ(sub.data, fits ? bytes + c.at : nullptr);
    uint16_t u16 = 0;  // each stays 0 past the end
    uint32_t u32 = 0;
    if (c.length == 2) {
      EXPECT_EQ(U16(view, c.at, &u16), fits);
      EXPECT_EQ(uint32_t{u16}, c.value);
    } else if (c.length == 4) {
      EXPECT_EQ(U32(view, c.at, &u32), fits);
      EXPECT_EQ(u32, c.value);
      // Writes back what it read, in the same byte order, or nothing at all.
      EXPECT_EQ(PutU32(MutableByteView{bytes, sizeof bytes}, c.at, c.value), fits);
    }
  }
  for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(bytes[i], i + 1);
}

constexpr uint32_t kPe = 0x80;  // MinimalPe32's e_lfanew

// MinimalPe32 with another Magic and e_lfanew, cut to `size` bytes; the table
// size differs where PE32 and PE32+ keep it.
ByteVector Image(uint16_t magic, size_t size, uint32_t lfanew = kPe) {
  ByteVector x = MinimalPe32();
  SetU32At(&x, kPe + 24, magic);
  SetU32At(&x, kPe + 156, 0x1111);
  SetU32At(&x, kPe + 172, 0x2222);
  SetU32At(&x, 0x3C, lfanew);
  x.resize(size);
  return x;
}

TEST(PeImageTest, ReadsHeadersUpToTheirLastByte) {
  const struct {
    const char* name;
    ByteVector file;
    PeHeaders headers;
    uint16_t magic;            // 0 when not read
    uint64_t securityEntryAt;  // 0 unless Complete
  } cases[] = {
      {"63 bytes", Image(kPe32Magic, 63), PeHeaders::NoDosHeader, 0, 0},
      {"e_lfanew + 26 wraps in 32 bits", Image(kPe32Magic, 0x400, 0xFFFFFFF0u), PeHeaders::NoPeSignature, 0, 0},
      {"Magic cut", Image(kPe32Magic, kPe + 25), PeHeaders::NoPeSignature, 0, 0},
      {"unknown Magic", Image(0x10C, 0x400), PeHeaders::UnknownMagic, 0, 0},
      {"PE32 a byte short", Image(kPe32Magic, kPe + 247), PeHeaders::Truncated, kPe32Magic, 0},
      {"PE32 whole", Image(kPe32Magic, kPe + 248), PeHeaders::Complete, kPe32Magic, kPe + 152},
      {"PE32+ a byte short", Image(kPe32PlusMagic, kPe + 263), PeHeaders::Truncated, kPe32PlusMagic, 0},
      {"PE32+ whole", Image(kPe32PlusMagic, kPe + 264), PeHeaders::Complete, kPe32PlusMagic, kPe + 168},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeImage image;
    EXPECT_EQ(ReadPeImage(ByteView{c.file.data(), c.file.size()}, &image), c.headers);
    EXPECT_EQ(image.magic, c.magic);
    EXPECT_EQ(image.securityEntryAt, c.securityEntryAt);
    if (c.headers != PeHeaders::Complete) continue;
    EXPECT_EQ(image.checksumAt, kPe + 88u);
    EXPECT_EQ(image.tableSize, U32At(c.file, c.securityEntryAt + 4));
    EXPECT_EQ(image.directoryCount, c.magic == kPe32Magic ? 16u : 0u);  // MinimalPe32 wrote it where PE32 keeps it
  }
}

}  // namespace
