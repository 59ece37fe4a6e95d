#include "package/manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/fault_injection.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An entry whose byte length is stated apart from the bytes that follow, so
// that lengths may lie.
Bytes RawEntry(uint32_t id, uint32_t byteLength, const Bytes& text) {
  Bytes out;
  AppendU32(out, id);
  AppendU32(out, byteLength);
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

// The entry a writer makes: the text and one NUL character.
Bytes Entry(uint32_t id, const std::u16string& text) {
  const Bytes bytes = Utf16(text, true);
  return RawEntry(id, static_cast<uint32_t>(bytes.size()), bytes);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

struct Visit {
  uint32_t payloadIndex;
  uint32_t id;
  std::string text;
  bool operator==(const Visit& o) const {
    return payloadIndex == o.payloadIndex && id == o.id && text == o.text;
  }
};

std::ostream& operator<<(std::ostream& os, const Visit& v) {
  return os << "{" << v.payloadIndex << ", " << v.id << ", \"" << v.text << "\"}";
}

struct Recorder {
  std::vector<Visit> visits;
  size_t stopAfter = SIZE_MAX;
};

int32_t Record(uint32_t payloadIndex, uint32_t id, const char* text, void* context) {
  auto* recorder = static_cast<Recorder*>(context);
  recorder->visits.push_back({payloadIndex, id, text});
  return recorder->visits.size() < recorder->stopAfter;
}

// A list over test-owned manifests; the walk reads nothing else.
struct Manifests {
  std::vector<Bytes> manifests;
  std::vector<PayloadItem> items;
  PayloadList list{};
  explicit Manifests(std::vector<Bytes> m) : manifests(std::move(m)) {
    for (Bytes& bytes : manifests)
      items.push_back(PayloadItem{nullptr, 0, bytes.data(), static_cast<uint32_t>(bytes.size()), 3});
    list.items = items.data();
    list.count = static_cast<uint32_t>(items.size());
  }
};

struct WalkCase {
  const char* name;
  std::vector<Bytes> manifests;
  size_t stopAfter;
  std::vector<Visit> expected;
  bool complete;
};

TEST(ForEachManifestEntryTest, Walks) {
  const Bytes ab = Concat({Entry(1, u"A"), Entry(2, u"B")});
  const Bytes c = Entry(3, u"C");
  Bytes oddFirst = Concat({RawEntry(4, 7, Concat({Utf16(u"AB", true), {0x7F}})), Entry(5, u"CD")});

  const WalkCase cases[] = {
      {"no payloads", {}, SIZE_MAX, {}, true},
      {"empty manifests", {{}, {}}, SIZE_MAX, {}, true},
      {"two payloads in order", {ab, c}, SIZE_MAX, {{0, 1, "A"}, {0, 2, "B"}, {1, 3, "C"}}, true},
      {"first visitor stop ends every payload", {ab, c}, 1, {{0, 1, "A"}}, true},
      {"stop on the last entry of a payload", {ab, c}, 2, {{0, 1, "A"}, {0, 2, "B"}}, true},
      {"empty text, next entry 8 bytes later", {Concat({RawEntry(9, 0, {}), Entry(10, u"X")})},
       SIZE_MAX, {{0, 9, ""}, {0, 10, "X"}}, true},
      {"odd length drops the last byte, next entry right after it", {oddFirst}, SIZE_MAX,
       {{0, 4, "AB"}, {0, 5, "CD"}}, true},
      {"text without terminator", {RawEntry(6, 4, Utf16(u"XY", false))}, SIZE_MAX, {{0, 6, "XY"}}, true},
      {"one unit of text, one byte", {RawEntry(7, 1, {'Q'})}, SIZE_MAX, {{0, 7, ""}}, true},
      {"text one byte past the end", {Concat({Entry(1, u"A"), RawEntry(2, 5, {'a', 0, 'b', 0}) }), c},
       SIZE_MAX, {{0, 1, "A"}}, false},
      {"length that would wrap the offset", {Concat({Entry(1, u"A"), RawEntry(2, 0xFFFFFFFFu, {0, 0})}), c},
       SIZE_MAX, {{0, 1, "A"}}, false},
      {"non-ASCII text in the ANSI code page", {Entry(8, u"Gr\u00f6\u00dfe")}, SIZE_MAX,
       {{0, 8, "Gr\xc3\xb6\xc3\x9f" "e"}}, true},
  };
  for (const WalkCase& k : cases) {
    Manifests m(k.manifests);
    Recorder recorder;
    recorder.stopAfter = k.stopAfter;
    EXPECT_EQ(ForEachManifestEntry(&m.list, Record, &recorder), k.complete) << k.name;
    EXPECT_EQ(recorder.visits, k.expected) << k.name;
  }
}

TEST(ForEachManifestEntryTest, CutHeaderEndsTheWholeWalk) {
  for (uint32_t left = 1; left <= 7; ++left) {
    Bytes first = Concat({Entry(1, u"A"), Entry(2, u"B")});
    first.insert(first.end(), left, 0x11);
    Manifests m({first, Entry(3, u"C")});
    Recorder recorder;
    EXPECT_FALSE(ForEachManifestEntry(&m.list, Record, &recorder)) << left;
    EXPECT_EQ(recorder.visits, (std::vector<Visit>{{0, 1, "A"}, {0, 2, "B"}})) << left;
  }
}

TEST(ForEachManifestEntryTest, VisitorSeesTheTextTerminatedInsideItsBlock) {
  // Conversion output is exactly measured: the terminator is the extra zeroed
  // byte, so ASan flags any read past it.
  Manifests m({RawEntry(1, 6, Utf16(u"abc", false))});
  std::string seen;
  auto visitor = [](uint32_t, uint32_t, const char* text, void* context) -> int32_t {
    *static_cast<std::string*>(context) = std::string(text, strlen(text) + 1);
    return 1;
  };
  EXPECT_TRUE(ForEachManifestEntry(&m.list, visitor, &seen));
  EXPECT_EQ(seen, std::string("abc", 4));
}

TEST(ForEachManifestEntryTest, AllocationFailureEndsTheWalkAndLeaksNothing) {
  // Even-length entries need one block each (the ANSI text); the odd one
  // needs an aligned copy first.
  const Bytes three = Concat({Entry(1, u"A"), Entry(2, u"B"), Entry(3, u"C")});
  for (uint32_t nth = 1; nth <= 3; ++nth) {
    ScopedPlatformReset reset;
    Manifests m({three, Entry(4, u"D")});
    Recorder recorder;
    ASSERT_TRUE(FailPlatformCall("AllocBlock", nth, 8));
    EXPECT_FALSE(ForEachManifestEntry(&m.list, Record, &recorder)) << nth;
    EXPECT_EQ(recorder.visits.size(), nth - 1) << nth;
    EXPECT_EQ(OutstandingBlocks(), 0) << nth;
  }
  for (uint32_t nth = 2; nth <= 3; ++nth) {  // 1: the first entry's text; 2, 3: the misaligned one's
    ScopedPlatformReset reset;
    Manifests m({Concat({RawEntry(1, 3, {'A', 0, 0}), Entry(2, u"B")})});
    Recorder recorder;
    ASSERT_TRUE(FailPlatformCall("AllocBlock", nth, 8));
    EXPECT_FALSE(ForEachManifestEntry(&m.list, Record, &recorder)) << nth;
    EXPECT_EQ(recorder.visits, (std::vector<Visit>{{0, 1, "A"}})) << nth;
    EXPECT_EQ(OutstandingBlocks(), 0) << nth;
  }
}

TEST(ForEachManifestEntryTest, IncompleteWalkSaysWhereAndWhy) {
  const Bytes ab = Concat({Entry(1, u"A"), Entry(2, u"B")});
  const Bytes cut = Concat({Entry(3, u"C"), RawEntry(4, 9, {'D', 0})});
  const ManifestWalkStop untouched{77, 77};
  const struct {
    const char* name;
    std::vector<Bytes> manifests;
    uint32_t failAllocation;  // 0: none
    size_t stopAfter;
    bool complete;
    ManifestWalkStop stop;
  } cases[] = {
      {"complete", {ab, ab}, 0, SIZE_MAX, true, untouched},
      {"stopped by the visitor", {ab, ab}, 0, 3, true, untouched},
      {"cut in the first payload", {cut, ab}, 0, SIZE_MAX, false, {0, 0}},
      {"cut in the second payload", {ab, cut}, 0, SIZE_MAX, false, {1, 0}},
      {"header cut in the second payload", {ab, Concat({ab, {1, 2, 3}})}, 0, SIZE_MAX, false, {1, 0}},
      {"no memory in the first payload", {ab, ab}, 2, SIZE_MAX, false, {0, 1}},
      {"no memory in the second payload", {ab, ab}, 3, SIZE_MAX, false, {1, 1}},
  };
  for (const auto& c : cases) {
    ScopedPlatformReset reset;
    Manifests m(c.manifests);
    Recorder recorder;
    recorder.stopAfter = c.stopAfter;
    if (c.failAllocation) {
      ASSERT_TRUE(FailPlatformCall("AllocBlock", c.failAllocation, 8));
    }
    ManifestWalkStop stop = untouched;
    EXPECT_EQ(ForEachManifestEntry(&m.list, Record, &recorder, &stop), c.complete) << c.name;
    EXPECT_EQ(stop.payloadIndex, c.stop.payloadIndex) << c.name;
    EXPECT_EQ(stop.noMemory, c.stop.noMemory) << c.name;
  }
}

TEST(ReadManifestEntryTest, NeverLeavesTheManifest) {
  const Bytes manifest = Concat({Entry(0x01020304, u"ok"), RawEntry(9, 4, {1, 2})});
  uint32_t offset = 0;
  ManifestEntry entry{};
  ASSERT_TRUE(ReadManifestEntry(manifest.data(), static_cast<uint32_t>(manifest.size()), &offset, &entry));
  EXPECT_EQ(entry.id, 0x01020304u);
  EXPECT_EQ(entry.byteLength, 6u);
  EXPECT_EQ(entry.text, manifest.data() + 8);
  EXPECT_EQ(offset, 14u);
  EXPECT_FALSE(ReadManifestEntry(manifest.data(), static_cast<uint32_t>(manifest.size()), &offset, &entry));
  EXPECT_EQ(offset, 14u);
  uint32_t past = 1000;
  EXPECT_FALSE(ReadManifestEntry(manifest.data(), static_cast<uint32_t>(manifest.size()), &past, &entry));
}

}  // namespace
