#include "payload/record_decoding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/platform.h"
#include "payload/carriers.h"
#include "payload/payload_key.h"
#include "tests/support/fault_injection.h"
#include "tests/support/payloads.h"

namespace {

constexpr uint32_t kFileId = 1000;

struct Outcome {
  ErrorPair pair;
  ByteVector content;
};

// Reads (type, id) from `stack` under `flags`; checks that a failure hands
// out nothing and that a success hands out exactly one block.
Outcome Read(const ByteVector& stack, uint32_t flags, const Guid16& type, uint32_t id,
             const PayloadKey* key = nullptr) {
  PayloadItem item{const_cast<uint8_t*>(stack.data()), static_cast<uint32_t>(stack.size()), nullptr, 0, flags};
  uint8_t sentinel = 0;
  uint8_t* content = &sentinel;
  uint32_t size = 12345;
  Outcome out;
  out.pair = key ? ReadRecordWithKey(key, item, type, id, &content, &size)
                 : ReadRecord(item, type, id, &content, &size);
  if (out.pair.code != 0) {
    EXPECT_EQ(content, nullptr);
    EXPECT_EQ(size, 0u);
    return out;
  }
  EXPECT_NE(content, nullptr);
  if (content) out.content.assign(content, content + size);
  platform::FreeBlock(content);
  return out;
}

ByteVector Compress(const ByteVector& content, int windowBits = 15, const ByteVector& dictionary = {},
                    int level = 9) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  if (!dictionary.empty()) deflateSetDictionary(&s, dictionary.data(), static_cast<uInt>(dictionary.size()));
  ByteVector out(deflateBound(&s, content.size()) + 16);
  s.next_in = const_cast<Bytef*>(content.data());
  s.avail_in = static_cast<uInt>(content.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

ByteVector Sign(const ByteVector& bytes, const SigningKey* key = TestKey()) {
  ByteVector signature;
  std::string error;
  EXPECT_TRUE(SignBytes(key, bytes.data(), bytes.size(), &signature, &error)) << error;
  return signature;
}

ByteVector OneRecord(const Guid16& type, uint32_t id, const ByteVector& data, const ByteVector& signature) {
  ByteVector stack;
  if (type == FileRecordType) AppendRawRecord(&stack, ManifestRecordType, 0, {}, {});
  AppendRawRecord(&stack, type, id, data, signature);
  return stack;
}

uint32_t IdOf(const Guid16& type) { return type == ManifestRecordType ? 0 : kFileId; }

const ByteVector& SampleContent() {
  static const ByteVector content = MixedContent(5000, 3, 7);
  return content;
}

// Every pair of the decoding table, for both kinds of record, from real zlib
// streams and real signatures.
TEST(DecodeRecordTest, PairTable) {
  const ByteVector& content = SampleContent();
  const ByteVector zlib = Compress(content);
  ByteVector trailing = zlib;
  trailing.insert(trailing.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x78, 0x9C});
  ByteVector corrupt = zlib;
  corrupt[zlib.size() / 2] ^= 0x55;
  const ByteVector goodSignature = Sign(content);
  const ByteVector empty;
  const ByteVector emptyZlib = Compress(empty);
  ByteVector longSignature = goodSignature;
  longSignature.push_back(0);

  struct Case {
    const char* name;
    uint32_t flags;
    ByteVector data;
    ByteVector signature;
    uint32_t code;
    uint32_t manifestLine, fileLine;
    const ByteVector* expected;  // content when code is 0
  } cases[] = {
      {"compressed and signed", 3, zlib, goodSignature, 0, 547, 687, &content},
      {"signed by another key", 3, zlib, Sign(content, OtherKey()), 1392, 592, 732, nullptr},
      {"signature over the compressed bytes", 3, zlib, Sign(zlib), 1392, 592, 732, nullptr},
      {"stream cut in the middle", 3, ByteVector(zlib.begin(), zlib.begin() + zlib.size() / 2), goodSignature,
       13, 551, 691, nullptr},
      {"stream without its checksum", 3, ByteVector(zlib.begin(), zlib.end() - 4), goodSignature, 13, 551, 691,
       nullptr},
      {"checksum wrong", 3, [&] { ByteVector d = zlib; d.back() ^= 1; return d; }(), goodSignature, 13, 551,
       691, nullptr},
      {"corrupt deflate data", 3, corrupt, goodSignature, 13, 551, 691, nullptr},
      {"raw deflate", 3, Compress(content, -15), goodSignature, 13, 551, 691, nullptr},
      {"gzip", 3, Compress(content, 31), goodSignature, 13, 551, 691, nullptr},
      {"preset dictionary", 3, Compress(content, 15, ByteVector(content.begin(), content.begin() + 64)),
       goodSignature, 13, 551, 691, nullptr},
      {"bytes after the stream", 3, trailing, goodSignature, 0, 547, 687, &content},
      {"stream of nothing, signed", 3, emptyZlib, Sign(empty), 0, 547, 687, &empty},
      {"stream of nothing, signature of something", 3, emptyZlib, goodSignature, 1392, 592, 732, nullptr},
      // An empty data part is no exception for file records: its signature
      // part is never content.
      {"no data, signed", 3, {}, goodSignature, 13, 551, 691, nullptr},
      {"no data, compressed only", 1, {}, goodSignature, 13, 551, 691, nullptr},
      {"compressed only, signature ignored", 1, zlib, ByteVector(7, 0xAA), 0, 547, 687, &content},
      {"stored, signature ignored", 0, content, ByteVector(3, 1), 0, 562, 702, &content},
      {"stored, no data", 0, {}, goodSignature, 0, 562, 702, &empty},
      {"stored and signed", 2, content, goodSignature, 0, 562, 702, &content},
      {"stored and signed, empty", 2, {}, Sign(empty), 0, 562, 702, &empty},
      {"stored, signature of the compressed form", 2, content, Sign(zlib), 1392, 592, 732, nullptr},
      {"stored zlib under flags 2 is not inflated", 2, zlib, Sign(zlib), 0, 562, 702, &zlib},
      {"unknown flag bits are ignored", 0xFFFFFFFC, content, {}, 0, 562, 702, &content},
      {"unknown flag bits beside both", 0x80000003, zlib, goodSignature, 0, 547, 687, &content},
      {"no signature", 3, zlib, {}, 1392, 592, 732, nullptr},
      {"signature of 255 bytes", 3, zlib, ByteVector(goodSignature.begin() + 1, goodSignature.end()), 1392, 592,
       732, nullptr},
      {"signature of 257 bytes", 3, zlib, longSignature, 1392, 592, 732, nullptr},
      {"signature of 512 bytes", 3, zlib, [&] { ByteVector s = goodSignature; s.insert(s.end(), goodSignature.begin(), goodSignature.end()); return s; }(),
       1392, 592, 732, nullptr},
  };
  for (const Case& c : cases) {
    for (const Guid16* type : {&ManifestRecordType, &FileRecordType}) {
      const bool manifest = *type == ManifestRecordType;
      SCOPED_TRACE(std::string(c.name) + (manifest ? " (manifest)" : " (file)"));
      const ByteVector stack = OneRecord(*type, IdOf(*type), c.data, c.signature);
      const Outcome out = Read(stack, c.flags, *type, IdOf(*type));
      EXPECT_EQ(out.pair.code, c.code);
      EXPECT_EQ(out.pair.line, manifest ? c.manifestLine : c.fileLine);
      if (c.code == 0 && c.expected) {
        EXPECT_EQ(out.content, *c.expected);
      }
    }
  }
}

TEST(DecodeRecordTest, NotFoundIs509) {
  const ByteVector stack = BuildTestPayload(TypicalPayloadSpec());
  struct Case {
    const ByteVector block;
    const Guid16* type;
    uint32_t id;
  } cases[] = {{stack, &FileRecordType, 77}, {stack, &ManifestRecordType, 1}, {{}, &ManifestRecordType, 0},
               {ByteVector(27, 0), &ManifestRecordType, 0}};
  for (const Case& c : cases) {
    const Outcome out = Read(c.block, 3, *c.type, c.id);
    EXPECT_EQ(out.pair.code, 1168u);
    EXPECT_EQ(out.pair.line, 509u);
  }
}

// A key verifies only its own signatures; with bindings it takes only the
// manifests it binds, whatever key signed them, and file records as before.
TEST(DecodeRecordTest, AnotherKeyVerifiesOnlyItsOwnSignatures) {
  const TestPayloadSpec plan = TypicalPayloadSpec();
  TestPayloadSpec otherSpec = plan, renamed = plan;
  otherSpec.key = OtherKey();
  renamed.packages[0].productName += " 2";
  PayloadKey other{}, test{}, builtIn{};
  SigningKeyModulus(OtherKey(), other.modulus);
  SigningKeyModulus(TestKey(), test.modulus);
  ASSERT_NE(LoadBuiltInKey(&builtIn), nullptr) << "the build stamps its key slot";
  ASSERT_EQ(0, memcmp(test.modulus, builtIn.modulus, 256)) << "the build embeds tests/keys/test-key";
  EXPECT_EQ(builtIn.bindingCount, 0u) << "the build binds nothing";

  const ByteVector mine = BuildTestPayload(plan), theirs = BuildTestPayload(otherSpec),
                   another = BuildTestPayload(renamed);
  // Bound to `plans`' manifests: the digests set-key --bind stamps.
  const auto boundTo = [&](std::vector<const TestPayloadSpec*> plans) {
    PayloadKey key = test;
    for (const TestPayloadSpec* p : plans) {
      const ByteVector manifest = BuildTestManifest(*p);
      DigestBytes(manifest.data(), static_cast<uint32_t>(manifest.size()), key.bindings[key.bindingCount++]);
    }
    return key;
  };
  const PayloadKey boundToMine = boundTo({&plan}), boundToBoth = boundTo({&plan, &renamed});
  struct Case {
    const ByteVector* stack;
    const PayloadKey* key;
    uint32_t manifestCode, fileCode;
  } cases[] = {{&mine, nullptr, 0, 0},          {&theirs, nullptr, 1392, 1392},        {&theirs, &other, 0, 0},
               {&mine, &other, 1392, 1392},     {&mine, &boundToMine, 0, 0},           {&another, &boundToMine, 1392, 0},
               {&another, &boundToBoth, 0, 0},  {&theirs, &boundToMine, 1392, 1392}};
  for (const Case& c : cases) {
    const ErrorPair manifest = Read(*c.stack, 3, ManifestRecordType, 0, c.key).pair;
    EXPECT_EQ(manifest.code, c.manifestCode);
    if (c.manifestCode != 0) {
      EXPECT_EQ(manifest.line, 592u);
    }
    const Outcome file = Read(*c.stack, 3, FileRecordType, 1, c.key);
    EXPECT_EQ(file.pair.code, c.fileCode);
    if (c.fileCode == 0) {
      EXPECT_EQ(file.content, plan.packages[0].database);
    }
  }
}

// The slot as the launcher and the packer read it: each version within its
// own bounds, never a digest past the count nor a count past the room.
TEST(KeySlotTest, ReadsEachVersionWithinItsBounds) {
  const struct {
    uint32_t version, state, count;
    size_t size;
    bool readable;
  } cases[] = {{1, 1, 7, 400, true},  // a version 1 slot has no count, whatever follows it
               {1, 1, 0, 279, false},         {2, 0, 0, kKeySlotSize, true},        {2, 1, 3, kKeySlotSize, true},
               {2, 1, 16, kKeySlotSize, true}, {2, 1, 17, kKeySlotSize + 32, false}, {2, 1, 0xFFFFFFFF, 9999, false},
               {2, 1, 1, kKeySlotSize - 1, false}, {3, 1, 0, kKeySlotSize, false},   {2, 2, 0, kKeySlotSize, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " " + std::to_string(c.count) + " " + std::to_string(c.size));
    ByteVector bytes(c.size, 0x5A);
    const MutableByteView view{bytes.data(), bytes.size()};
    PutU32(view, kKeySlotVersionAt, c.version);
    PutU32(view, kKeySlotStateAt, c.state);
    PutU32(view, kKeySlotBindingCountAt, c.count);
    KeySlot read;
    ASSERT_EQ(ReadKeySlot(ByteView{bytes.data(), bytes.size()}, &read), c.readable);
    if (!c.readable) continue;
    const uint32_t bindings = c.version == 1 ? 0 : c.count;
    EXPECT_EQ(read.key.bindingCount, bindings);
    // Without bindings every manifest is taken; with them, only theirs.
    uint8_t held[kContentDigestSize], absent[kContentDigestSize] = {};
    std::memset(held, 0x5A, sizeof held);
    EXPECT_TRUE(BindsManifest(read.key, held));
    EXPECT_EQ(BindsManifest(read.key, absent), bindings == 0);
  }
}

TEST(InflateToBufferTest, ChunkSizes) {
  const struct {
    uint32_t input, chunk;
  } cases[] = {{0, 256}, {1, 256}, {255, 256}, {256, 32}, {2047, 255}, {2048, 256}, {0xFFFFFFFF, 0x1FFFFFFF}};
  for (const auto& c : cases) EXPECT_EQ(InflateChunkSize(c.input), c.chunk) << c.input;
}

TEST(InflateToBufferTest, OutputNeverPassesFourGigabytes) {
  const struct {
    uint32_t size, chunk;
    bool fits;
  } cases[] = {{0, 256, true},
               {0xFFFFFFFFu - 256, 256, true},
               {0xFFFFFFFFu - 255, 256, false},
               {0xFFFFFFFFu, 1, false},
               {0x80000000u, 0x80000000u, false},
               {0x7FFFFFFFu, 0x80000000u, true}};
  for (const auto& c : cases) {
    uint32_t capacity = 0;
    EXPECT_EQ(GrowOutputCapacity(c.size, c.chunk, &capacity), c.fits) << c.size << "+" << c.chunk;
    if (c.fits) {
      EXPECT_EQ(capacity, c.size + c.chunk);
    }
  }
}

// The first block is one chunk; recording the sizes asked for shows the
// chunk without trusting InflateChunkSize.
std::vector<uint32_t> blockSizes;
void* RecordingAlloc(uint32_t size, uint32_t flags) {
  blockSizes.push_back(size);
  return kPlatformDefaults.AllocBlock(size, flags);
}
void* RecordingGrow(void* block, uint32_t size, uint32_t flags) {
  blockSizes.push_back(size);
  return kPlatformDefaults.GrowBlock(block, size, flags);
}

TEST(InflateToBufferTest, ChunkBoundaries) {
  // Level 0 stores: 2 header + 5 block header + content + 4 checksum bytes.
  const struct {
    const char* name;
    ByteVector content;
    int level;
    size_t inputSize;  // 0: not checked
    uint32_t chunk;
  } cases[] = {
      {"input of 255 bytes", MixedContent(244, 1, 3), 0, 255, 256},
      {"input of 256 bytes", MixedContent(245, 1, 3), 0, 256, 32},
      {"content of exactly one chunk", ByteVector(256, 'a'), 9, 0, 256},
      {"content of exactly two chunks", ByteVector(512, 'b'), 9, 0, 256},
      {"input of 2047 bytes", MixedContent(2036, 1, 4), 0, 2047, 255},
      {"large expansion", ByteVector(60000, 'z'), 9, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ByteVector input = Compress(c.content, 15, {}, c.level);
    if (c.inputSize) {
      ASSERT_EQ(input.size(), c.inputSize);
    }
    ScopedPlatformReset reset;
    blockSizes.clear();
    gPlatform.AllocBlock = RecordingAlloc;
    gPlatform.GrowBlock = RecordingGrow;
    uint8_t* output = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(InflateToBuffer(input.data(), static_cast<uint32_t>(input.size()), &output, &size), Z_OK);
    EXPECT_EQ(ByteVector(output, output + size), c.content);
    const uint32_t chunk = InflateChunkSize(static_cast<uint32_t>(input.size()));
    if (c.chunk) {
      EXPECT_EQ(blockSizes.front(), c.chunk);
    }
    // Every step asks for the output so far plus one chunk, and the block
    // handed out is at most one chunk larger than the content.
    EXPECT_LE(blockSizes.back(), size + chunk);
    EXPECT_GE(blockSizes.back(), size);
    platform::FreeBlock(output);
  }
}

uint32_t AllocatingCalls() { return PlatformCallCount("AllocBlock") + PlatformCallCount("GrowBlock"); }

// Failing every allocation in turn: each failure gives its pair, nothing
// leaks, and the code is the last error or 8 without one.
TEST(DecodeRecordTest, AllocationFailures) {
  const ByteVector content = MixedContent(3000, 3, 9);
  const ByteVector compressed = OneRecord(FileRecordType, kFileId, Compress(content), Sign(content));
  const ByteVector stored = OneRecord(FileRecordType, kFileId, content, Sign(content));
  const ByteVector storedManifest = OneRecord(ManifestRecordType, 0, content, Sign(content));
  struct Case {
    const char* name;
    const ByteVector* stack;
    uint32_t flags;
    const Guid16* type;
    const char* call;
    uint32_t error;
    uint32_t code, line;
  } cases[] = {
      {"inflate, first block", &compressed, 3, &FileRecordType, "AllocBlock", 1455, 13, 691},
      {"inflate, growth", &compressed, 3, &FileRecordType, "GrowBlock", 1455, 13, 691},
      {"inflate unsigned, growth, no last error", &compressed, 1, &FileRecordType, "GrowBlock", 0, 13, 691},
      {"copy, last error", &stored, 2, &FileRecordType, "AllocBlock", 1455, 1455, 706},
      {"copy, no last error", &stored, 0, &FileRecordType, "AllocBlock", 0, 8, 706},
      {"manifest copy, last error", &storedManifest, 2, &ManifestRecordType, "AllocBlock", 14, 14, 566},
      {"manifest copy, no last error", &storedManifest, 0, &ManifestRecordType, "AllocBlock", 0, 8, 566},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t id = IdOf(*c.type);
    uint32_t failures = 0;
    for (uint32_t n = 1;; ++n) {
      ScopedPlatformReset reset;
      ASSERT_TRUE(FailPlatformCall(c.call, n, c.error));
      const Outcome out = Read(*c.stack, c.flags, *c.type, id);
      EXPECT_EQ(OutstandingBlocks(), 0) << "n=" << n;
      if (!PlatformFaultFired()) {
        EXPECT_EQ(out.pair.code, 0u);
        EXPECT_EQ(out.content, content);
        break;
      }
      ++failures;
      EXPECT_EQ(out.pair.code, c.code) << "n=" << n;
      EXPECT_EQ(out.pair.line, c.line) << "n=" << n;
      ASSERT_LT(n, 1000u);
    }
    EXPECT_GE(failures, 1u);
  }
  // The sweep above must have had growth steps to fail.
  ScopedPlatformReset reset;
  Read(compressed, 3, FileRecordType, kFileId);
  EXPECT_GT(AllocatingCalls(), 10u);
}

evp_pkey_st* RefuseBlob(const unsigned char**, long) { return nullptr; }

TEST(DecodeRecordTest, KeyThatDoesNotLoad) {
  const ByteVector& content = SampleContent();
  const ByteVector zlib = Compress(content);
  const PublicKeyBlobLoader saved = gLoadPublicKeyBlob;
  gLoadPublicKeyBlob = RefuseBlob;
  for (const Guid16* type : {&ManifestRecordType, &FileRecordType}) {
    ScopedPlatformReset reset;
    const Outcome out = Read(OneRecord(*type, IdOf(*type), zlib, Sign(content)), 3, *type, IdOf(*type));
    EXPECT_EQ(out.pair.code, 0x80090003u);
    EXPECT_EQ(out.pair.line, *type == ManifestRecordType ? 599u : 739u);
    EXPECT_EQ(OutstandingBlocks(), 0);
    // Unsigned payloads never load the key.
    EXPECT_EQ(Read(OneRecord(*type, IdOf(*type), zlib, {}), 1, *type, IdOf(*type)).pair.code, 0u);
  }
  gLoadPublicKeyBlob = saved;
  // An empty key slot gives the decoder no modulus: the same pair, with the
  // real loader in place.
  for (const Guid16* type : {&ManifestRecordType, &FileRecordType}) {
    const ByteVector stack = OneRecord(*type, IdOf(*type), zlib, Sign(content));
    PayloadItem item{const_cast<uint8_t*>(stack.data()), static_cast<uint32_t>(stack.size()), nullptr, 0, 3};
    uint8_t* bytes = nullptr;
    uint32_t size = 0;
    const ErrorPair pair = ReadRecordWithKey(nullptr, item, *type, IdOf(*type), &bytes, &size);
    EXPECT_EQ(pair.code, 0x80090003u);
    EXPECT_EQ(pair.line, *type == ManifestRecordType ? 599u : 739u);
    EXPECT_EQ(bytes, nullptr);
  }
}

// No single changed byte of a signed payload may yield other content with
// code 0: it either changes nothing that is read or the read fails.
TEST(DecodeRecordTest, TamperMatrix) {
  TestPayloadSpec plan;
  plan.packages.push_back(TestPackage{5, "Intel", "1033", "{00000000-0000-0000-0000-000000000001}", "P",
                                      MixedContent(120, 2, 5)});
  const ByteVector stack = BuildTestPayload(plan);
  const ByteVector manifest = BuildTestManifest(plan);
  const ByteVector& database = plan.packages[0].database;
  ASSERT_EQ(Read(stack, 3, FileRecordType, 5).content, database);
  uint32_t failed = 0, unchanged = 0;
  for (size_t at = 0; at < stack.size(); ++at) {
    for (uint8_t change : {0x01, 0x80, 0xFF}) {
      ByteVector tampered = stack;
      tampered[at] ^= change;
      const Outcome file = Read(tampered, 3, FileRecordType, 5);
      const Outcome man = Read(tampered, 3, ManifestRecordType, 0);
      if (file.pair.code == 0) {
        EXPECT_EQ(file.content, database) << "byte " << at << " ^ " << int(change);
      }
      if (man.pair.code == 0) {
        EXPECT_EQ(man.content, manifest) << "byte " << at << " ^ " << int(change);
      }
      (file.pair.code == 0 ? unchanged : failed) += 1;
    }
  }
  EXPECT_GT(failed, stack.size());  // nearly every byte matters
}

TEST(PayloadWriterTest, ManifestEntriesAreUtf16WithOneNul) {
  const struct {
    const char* text;
    std::vector<uint8_t> units;
  } cases[] = {
      {"", {0, 0}},
      {"x\\1", {'x', 0, '\\', 0, '1', 0, 0, 0}},
      {"\xC3\x9C", {0xDC, 0, 0, 0}},                          // U+00DC
      {"\xE2\x82\xAC", {0xAC, 0x20, 0, 0}},                   // U+20AC
      {"\xF0\x9F\x98\x80", {0x3D, 0xD8, 0x00, 0xDE, 0, 0}},   // U+1F600, a surrogate pair
      {"\xFF" "a", {0xFD, 0xFF, 'a', 0, 0, 0}},               // malformed: U+FFFD
      {"\xC0\x80", {0xFD, 0xFF, 0xFD, 0xFF, 0, 0}},           // overlong NUL is not a NUL
      {"\xE2\x82", {0xFD, 0xFF, 0xFD, 0xFF, 0, 0}},           // cut sequence
  };
  for (const auto& c : cases) {
    ByteVector manifest;
    AppendManifestEntry(&manifest, 0x01020304, c.text);
    ByteVector expected = {4, 3, 2, 1, static_cast<uint8_t>(c.units.size()), 0, 0, 0};
    expected.insert(expected.end(), c.units.begin(), c.units.end());
    EXPECT_EQ(manifest, expected) << c.text;
  }
  EXPECT_EQ(PackageEntryText("x64", "1031;1033", "{C}", "Name"), "x64\\1031;1033\\{C}\\Name");
  EXPECT_EQ(CabEntryText("1;2", "data1.cab"), "cab\\1;2\\data1.cab");
}

TEST(PayloadWriterTest, KeysThatAreNotRsa2048AreRefused) {
  std::string error;
  EXPECT_EQ(LoadSigningKey(SourcePath("tests/keys/test-key.pub.pem"), &error), nullptr);
  EXPECT_EQ(LoadSigningKey(SourcePath("tests/keys/missing.pem"), &error), nullptr);
  EXPECT_FALSE(error.empty());
}

// The containers tests/support builds for other tests must be what the
// carriers read: a payload in a certificate extension, or one behind the
// signature in the certificate table.
TEST(TestPayloadsTest, CarriersFindTheTestContainers) {
  const TestPayloadSpec plan = TypicalPayloadSpec();
  const ByteVector stack = BuildTestPayload(plan);
  const ByteVector manifest = BuildTestManifest(plan);
  TestExtension payload{stack, false, ""};
  TestExtension critical{stack, true, ""};
  TestExtension foreign{stack, false, "1.2.3.4"};
  const struct {
    const char* name;
    ByteVector file;
    bool tail;
    uint32_t count;
  } cases[] = {
      {"extension", WithCertificateTable(MinimalPe32(), SignedMessageWithExtensions({foreign, payload})), false, 1},
      {"two certificates", WithCertificateTable(MinimalPe32(), SignedMessageWithCertificates({{payload}, {critical, payload}})),
       false, 2},
      {"behind the signature", WithCertificateTable(MinimalPe32(), SignedMessageWithExtensions({}), 13, stack), true, 1},
      {"unsigned tail", WithTail(MinimalPe32(), stack), true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PayloadList list{};
    const uint32_t size = static_cast<uint32_t>(c.file.size());
    ErrorPair pair = ReadCertificatePayloads(c.file.data(), size, &list);
    EXPECT_EQ(pair.code, 0u);
    EXPECT_EQ(list.count, c.tail ? 0u : c.count);
    if (c.tail) {
      EXPECT_EQ(pair.line, 789u);
      pair = ReadTailPayload(c.file.data(), size, &list);
      EXPECT_EQ(pair.code, 0u);
    }
    ASSERT_EQ(list.count, c.count);
    for (uint32_t i = 0; i < list.count; ++i)
      EXPECT_EQ(ByteVector(list.items[i].manifest, list.items[i].manifest + list.items[i].manifestSize), manifest);
    ReleasePayloadList(&list);
  }
}

}  // namespace
