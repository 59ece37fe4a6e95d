#include "payload/record_stack.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Guid16 kOtherType = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};

// Appends one record: data, signature, trailer. The lengths in the trailer
// may be given apart from the parts, to build malformed stacks.
void Append(Bytes& block, const Guid16& type, uint32_t id, Bytes data, Bytes signature) {
  const RecordTrailer trailer{type, id, static_cast<uint32_t>(signature.size()),
                              static_cast<uint32_t>(data.size())};
  block.insert(block.end(), data.begin(), data.end());
  block.insert(block.end(), signature.begin(), signature.end());
  uint8_t raw[kRecordTrailerSize];
  WriteRecordTrailer(trailer, raw);
  block.insert(block.end(), raw, raw + kRecordTrailerSize);
}

void AppendTrailer(Bytes& block, const Guid16& type, uint32_t id, uint32_t signatureSize, uint32_t dataSize) {
  uint8_t raw[kRecordTrailerSize];
  WriteRecordTrailer(RecordTrailer{type, id, signatureSize, dataSize}, raw);
  block.insert(block.end(), raw, raw + kRecordTrailerSize);
}

// Finds and returns the data part's first byte as a marker (-1: not found,
// -2: found with empty data).
int Find(const Bytes& block, const Guid16& type, uint32_t id) {
  LocatedRecord record{};
  if (!LocateRecord(block.data(), static_cast<uint32_t>(block.size()), type, id, &record)) return -1;
  EXPECT_EQ(record.id, id);
  EXPECT_EQ(record.kind, type == ManifestRecordType ? RecordKind::Manifest : RecordKind::File);
  EXPECT_GE(record.data, block.data());
  EXPECT_LE(record.signature + record.signatureSize, block.data() + block.size());
  EXPECT_EQ(record.data + record.dataSize, record.signature);
  return record.dataSize ? record.data[0] : -2;
}

TEST(RecordTrailerTest, TypesHaveTheWindowsGuidLayout) {
  const uint8_t manifest[] = {0xF7, 0xBB, 0xD5, 0xEE, 0x84, 0x12, 0x19, 0x46,
                              0x91, 0x8C, 0xF0, 0xCB, 0x8E, 0xE2, 0x8B, 0x55};
  const uint8_t file[] = {0xD9, 0x8C, 0x24, 0xA1, 0x96, 0xEF, 0x6B, 0x43,
                          0x92, 0xBF, 0xC0, 0x0B, 0xAD, 0x72, 0x7E, 0x63};
  EXPECT_EQ(0, memcmp(ManifestRecordType.bytes, manifest, 16));
  EXPECT_EQ(0, memcmp(FileRecordType.bytes, file, 16));
}

TEST(RecordTrailerTest, SignatureSizePrecedesDataSize) {
  uint8_t raw[kRecordTrailerSize];
  WriteRecordTrailer(RecordTrailer{FileRecordType, 0x01020304, 0x100, 0x20000}, raw);
  const uint8_t tail[] = {4, 3, 2, 1, 0, 1, 0, 0, 0, 0, 2, 0};
  EXPECT_EQ(0, memcmp(raw + 16, tail, sizeof tail));
}

TEST(LocateRecordTest, WellFormedStacks) {
  Bytes stack;
  Append(stack, ManifestRecordType, 0, {'M'}, {'s'});
  Append(stack, FileRecordType, 1000, {'A'}, {1, 2, 3});
  Append(stack, FileRecordType, 1001, {'B'}, {});
  Append(stack, FileRecordType, 1000, {'C'}, {});  // the nearer duplicate wins

  Bytes image(100, 0xCC);  // bytes below the stack are never read
  image.insert(image.end(), stack.begin(), stack.end());

  struct Case {
    const Guid16* type;
    uint32_t id;
    int expected;
  } cases[] = {
      {&ManifestRecordType, 0, 'M'}, {&FileRecordType, 1000, 'C'}, {&FileRecordType, 1001, 'B'},
      {&FileRecordType, 7, -1},      {&ManifestRecordType, 1, -1}, {&FileRecordType, 0, -1},
      {&kOtherType, 0, -1},
  };
  for (const Bytes* block : {&stack, &image})
    for (const Case& c : cases) EXPECT_EQ(Find(*block, *c.type, c.id), c.expected) << c.id;
}

TEST(LocateRecordTest, ShortAndForeignBlocks) {
  Bytes block;
  EXPECT_EQ(Find(block, ManifestRecordType, 0), -1);
  block.assign(27, 0);
  EXPECT_EQ(Find(block, ManifestRecordType, 0), -1);

  Bytes hidden;
  Append(hidden, ManifestRecordType, 0, {'M'}, {});
  Append(hidden, kOtherType, 0, {}, {});
  EXPECT_EQ(Find(hidden, ManifestRecordType, 0), -1);
}

TEST(LocateRecordTest, EmptyRecordIsValid) {
  Bytes block;
  Append(block, ManifestRecordType, 0, {}, {});
  EXPECT_EQ(block.size(), kRecordTrailerSize);
  EXPECT_EQ(Find(block, ManifestRecordType, 0), -2);
}

TEST(LocateRecordTest, FileRecordBelowTheManifestIsNeverFound) {
  Bytes block;
  Append(block, FileRecordType, 5, {'F'}, {});
  Append(block, ManifestRecordType, 0, {'M'}, {});
  EXPECT_EQ(Find(block, FileRecordType, 5), -1);
  EXPECT_EQ(Find(block, ManifestRecordType, 0), 'M');
}

TEST(LocateRecordTest, OversizedLengths) {
  for (uint32_t huge : {30u, 0xFFFFFFFFu, 0xFFFFFFE4u}) {
    // A manifest trailer whose lengths do not fit ends the walk, even with a
    // valid manifest record right below it that a further step would find.
    Bytes manifestSig, manifestData;
    Append(manifestSig, ManifestRecordType, 0, {'M'}, {});
    AppendTrailer(manifestSig, ManifestRecordType, 0, huge, 0);
    Append(manifestData, ManifestRecordType, 0, {'M'}, {});
    manifestData.insert(manifestData.end(), 4, 0xEE);  // the "signature" part
    AppendTrailer(manifestData, ManifestRecordType, 0, 4, huge);
    EXPECT_EQ(Find(manifestSig, ManifestRecordType, 0), -1) << huge;
    EXPECT_EQ(Find(manifestData, ManifestRecordType, 0), -1) << huge;

    // A file trailer whose signature does not fit: the walk tries the 28
    // bytes right below it, where a manifest record ends.
    Bytes fileSig;
    Append(fileSig, ManifestRecordType, 0, {'M'}, {});
    AppendTrailer(fileSig, FileRecordType, 9, huge, 0);
    EXPECT_EQ(Find(fileSig, ManifestRecordType, 0), 'M') << huge;

    // A file trailer whose data does not fit below its signature: the walk
    // goes on where the signature begins.
    Bytes fileData;
    Append(fileData, ManifestRecordType, 0, {'M'}, {});
    fileData.insert(fileData.end(), 4, 0xEE);  // the "signature" part
    AppendTrailer(fileData, FileRecordType, 9, 4, huge);
    EXPECT_EQ(Find(fileData, ManifestRecordType, 0), 'M') << huge;
    EXPECT_EQ(Find(fileData, FileRecordType, 9), -1) << huge;
  }
}

}  // namespace
